// Report paths, listing, reading and deleting.
#include "reports/report_store.h"

#include <array>
#include <cstdio>

#include "platform/files.h"
#include "platform/registry.h"

namespace {

// The folder names of the four report types, indexed by ReportType.
constexpr std::array<const char*, 4> kReportTypeNames = {"Configure", "Backup", "Restore",
                                                         "Delete Snapshot"};

// The registry value is read into a 260-byte buffer; a longer value would not
// fit and is refused like an unreadable one.
constexpr std::size_t kReportFolderCapacity = 260;

std::string JoinFolder(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '\\') return folder + name;
  return folder + "\\" + name;
}

// A name that stays inside its folder: one path component, not "." or "..".
bool IsSafeComponent(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  return name.find_first_of("\\/:") == std::string::npos && name.find('\0') == std::string::npos;
}

// Opens a report for reading; a folder or a missing file is an open failure.
void OpenForRead(const std::string& path, platform::File& file) {
  const DWORD attributes = platform::GetFileAttributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
      file.Open(path, platform::File::Mode::Read) != ERROR_SUCCESS) {
    throw FileOpenFailure(path);
  }
}

}  // namespace

bool ReportStore::IsValidReportType(int type) { return type >= 0 && type < 4; }

std::string ReportStore::ReportTypeName(int type) {
  if (!IsValidReportType(type)) throw InvalidReportType();
  return kReportTypeNames[std::size_t(type)];
}

std::string ReportStore::GetReportFolder() const {
  std::string folder;
  if (platform::RegGetString(kReportFolderKey, kReportFolderValue, folder) != ERROR_SUCCESS ||
      folder.size() >= kReportFolderCapacity) {
    throw RegistryKeyReadFailure(kReportFolderKey, kReportFolderValue);
  }
  // The text up to its first zero byte, as the value buffer would hold it.
  folder.resize(folder.find('\0') == std::string::npos ? folder.size() : folder.find('\0'));
  return folder;
}

std::string ReportStore::ReportPath(int type, const std::string& name) const {
  if (!IsSafeComponent(name)) throw InvalidReportName(name);
  return JoinFolder(JoinFolder(GetReportFolder(), ReportTypeName(type)), name);
}

std::vector<std::string> ReportStore::ListReports(int type) const {
  const std::string pattern = JoinFolder(JoinFolder(GetReportFolder(), ReportTypeName(type)), "*");
  std::vector<platform::FindData> entries;
  std::vector<std::string> names;
  if (platform::FindFiles(pattern, entries) != ERROR_SUCCESS) return names;
  names.reserve(entries.size());
  for (platform::FindData& entry : entries) {
    if ((entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
    names.push_back(std::move(entry.name));
  }
  return names;
}

FILETIME ReportStore::GetReportTime(int type, const std::string& name) const {
  const std::string path = ReportPath(type, name);
  platform::File file;
  OpenForRead(path, file);
  FILETIME time;
  if (platform::GetLastWriteTime(path, time) != ERROR_SUCCESS) throw FileTimeRetrievalFailure(path);
  return time;
}

std::string ReportStore::ReadReport(int type, const std::string& name) const {
  const std::string path = ReportPath(type, name);
  platform::File file;
  OpenForRead(path, file);
  std::uint64_t size = 0;
  if (file.Size(size) != ERROR_SUCCESS) throw FileReadFailure(path);
  std::string text(std::size_t(size), '\0');
  std::size_t total = 0;
  while (total < text.size()) {
    std::size_t got = 0;
    if (file.Read(text.data() + total, text.size() - total, &got) != ERROR_SUCCESS || got == 0) {
      throw FileReadFailure(path);  // shorter than its size said
    }
    total += got;
  }
  return text;
}

void ReportStore::DeleteReport(int type, const std::string& name) const {
  platform::DeleteFile(ReportPath(type, name));  // a failed delete is ignored
}

void ReportStore::DeleteReportsOfType(int type) const {
  for (const std::string& name : ListReports(type)) DeleteReport(type, name);
}

std::string ReportStore::MakeReportName(const SYSTEMTIME& t) {
  char name[64];
  std::snprintf(name, sizeof name, "%02u-%02u-%4u_%02u.%02u.%02u.txt", unsigned(t.wMonth),
                unsigned(t.wDay), unsigned(t.wYear), unsigned(t.wHour), unsigned(t.wMinute),
                unsigned(t.wSecond));
  return name;
}

ReportStore& TheReportStore() {
  static ReportStore store;
  return store;
}
