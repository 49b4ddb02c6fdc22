// Report paths, listing, reading, deleting and saving. A failure to save is
// never raised: the run is over and its client told; the failure goes to the
// event log and the debug trace, because the service has nobody at its screen.
#include "reports/report_store.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <thread>

#include "common/events.h"
#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/eventlog.h"
#include "platform/files.h"
#include "platform/registry.h"

namespace ark {

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

// Waiting for a free report name: up to a little more than two seconds.
constexpr int kNameAttempts = 110;
constexpr std::chrono::milliseconds kNameRetryPause{20};

void ReportSaveFailure(const std::string& typeName, const std::string& error) {
  const std::string title = "Unable to save " + typeName + " report.";
  platform::OutputDebugString(title + " " + error + "\n");
  platform::ReportEvent(kEventSourceName, EVENTLOG_ERROR_TYPE, kCategoryService, kEventReportNotSaved,
                        {title, error});
}

bool IsKnownTypeName(const std::string& typeName) {
  for (int type = 0; type < 4; ++type) {
    if (ReportStore::ReportTypeName(type) == typeName) return true;
  }
  return false;
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
  const std::string path = ReportPath(type, name);
  const DWORD error = platform::DeleteFile(path);
  if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
    throw FileDeleteFailure(path);
  }
}

void ReportStore::DeleteReportsOfType(int type) const {
  std::string firstFailed;
  for (const std::string& name : ListReports(type)) {
    try {
      DeleteReport(type, name);
    } catch (const FileDeleteFailure& e) {
      if (firstFailed.empty()) firstFailed = e.path();
    }
  }
  if (!firstFailed.empty()) throw FileDeleteFailure(firstFailed);
}

void ReportStore::SaveReport(const std::string& typeName, const std::string& text) const {
  if (!IsKnownTypeName(typeName)) {
    ReportSaveFailure(typeName, "Unknown report type " + typeName);
    return;
  }
  std::string folder;
  try {
    folder = GetReportFolder();
  } catch (const RegistryKeyReadFailure& e) {
    ReportSaveFailure(typeName, e.Text());
    return;
  }
  const std::string typeFolder =
      (!folder.empty() && folder.back() == '\\' ? folder : folder + "\\") + typeName;

  // The type's folder is made on first use; when it cannot be, the open
  // below fails and says so.
  platform::CreateDirectory(typeFolder);
  // Report names carry the second of saving. A report saved earlier in the
  // same second keeps its file: this one waits for the next second's name.
  platform::File file;
  std::string path;
  DWORD opened = ERROR_FILE_EXISTS;
  for (int attempt = 0; attempt < kNameAttempts && opened == ERROR_FILE_EXISTS; ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(kNameRetryPause);
    SYSTEMTIME now;
    platform::GetLocalTime(now);
    path = typeFolder + "\\" + MakeReportName(now);
    opened = file.Open(path, platform::File::Mode::CreateNew);
  }
  if (opened != ERROR_SUCCESS) {
    ReportSaveFailure(typeName, "Unable to open " + path);
    return;
  }
  if (file.Write(text.data(), text.size()) != ERROR_SUCCESS || file.Close() != ERROR_SUCCESS) {
    ReportSaveFailure(typeName, "Unable to write to " + path);
  }
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

}  // namespace ark
