#include "ledger/change_info_check.h"

#include <array>

#include "domino/settings.h"
#include "ledger/change_info_file.h"
#include "ledger/hint_files.h"
#include "ledger/log_files.h"
#include "output/output.h"
#include "platform/files.h"
#include "platform/text.h"

namespace ark {

namespace {

constexpr std::array<const char*, 3> kChangeInfoSuffixes = {".nsf.dat", ".ntf.dat", ".box.dat"};

bool IsChangeInfoFile(const std::string& name) {
  for (const char* suffix : kChangeInfoSuffixes) {
    if (platform::EndsWithNoCase(name, suffix)) return true;
  }
  return false;
}

void ReportDamaged(OutputSink& out, std::vector<std::string>& damaged, const std::string& path,
                   const std::string& detail) {
  damaged.push_back(path);
  Output(out, "ERROR: Damaged change information file: " + path + "\r\n" + detail + "\r\n");
}

// Reads the header and the size of one file; a file that cannot be read
// counts as damaged, since a restore would skip it without a word.
void CheckOneFile(OutputSink& out, ChangeInfoCheck& check, const std::string& path) {
  ++check.files;
  platform::File file;
  DWORD error = file.Open(path, platform::File::Mode::Read);
  std::uint64_t size = 0;
  if (error == ERROR_SUCCESS) error = file.Size(size);
  if (error != ERROR_SUCCESS) {
    ReportDamaged(out, check.damaged, path, "It cannot be read: " + platform::FormatMessage(error));
    return;
  }
  if (size < kChangeInfoHeaderSize) {
    ReportDamaged(out, check.damaged, path,
                  "It holds " + std::to_string(size) + " bytes, less than its " +
                      std::to_string(kChangeInfoHeaderSize) + "-byte header.");
    return;
  }
  ChangeInfoHeader header{};
  std::size_t have = 0;
  error = ReadFully(file, header.data(), header.size(), have);
  if (have < header.size()) {
    ReportDamaged(out, check.damaged, path,
                  "Its header cannot be read" +
                      (error != ERROR_SUCCESS ? ": " + platform::FormatMessage(error) : std::string(".")));
    return;
  }
  DWORD low = 0, high = 0;
  DecodeChangeInfoHeader(header, low, high);
  const std::uint64_t announced = ChangeInfoSize(low, high);
  const std::uint64_t held = size - kChangeInfoHeaderSize;
  if (announced != held) {
    ReportDamaged(out, check.damaged, path,
                  "Its header announces " + std::to_string(announced) +
                      " bytes of change information; it holds " + std::to_string(held) + ".");
    return;
  }
  check.changeBytes += held;
}

void Walk(OutputSink& out, ChangeInfoCheck& check, const std::string& directory, bool top) {
  std::vector<platform::DirectoryName> entries;
  if (platform::ListDirectoryNames(directory, entries) != ERROR_SUCCESS) return;
  for (const platform::DirectoryName& entry : entries) {
    const std::string path = directory + entry.name;
    if (entry.directory) {
      // The archived logs beside the snapshot are no change information.
      if (top && platform::EqualsNoCase(entry.name, kLogsFolderName)) continue;
      Walk(out, check, path + "\\", false);
    } else if (IsChangeInfoFile(entry.name)) {
      CheckOneFile(out, check, path);
    }
  }
}

}  // namespace

ChangeInfoCheck CheckChangeInformation(OutputSink& out, const std::string& ledgerDirectory) {
  ChangeInfoCheck check;
  Walk(out, check, WithBackslash(ledgerDirectory), true);
  if (check.files == 0) {
    Output(out, "WARNING: No change information file found (the backup recorded no database).\r\n");
  } else {
    Output(out, "Checked " + std::to_string(check.files) + " change information file" +
                    (check.files == 1 ? "" : "s") + ": " + std::to_string(check.damaged.size()) +
                    " damaged, " + std::to_string(check.changeBytes) +
                    " bytes of change information in the sound ones.\r\n");
  }
  return check;
}

ChangeInfoListCheck CheckChangeInfoList(OutputSink& out, const std::string& ledgerDirectory) {
  ChangeInfoListCheck check;
  std::vector<ChangeInfoListEntry> files;
  std::string listPath;
  std::size_t badLine = 0;
  DWORD readError = ERROR_SUCCESS;
  const int read = ReadChangeInfoList(ledgerDirectory, files, listPath, &badLine, &readError);
  if (read == -1) return check;
  check.listed = true;
  if (read == -3) {
    // A list that is there but unreadable proves nothing: the snapshot is
    // not taken for one from before the list was written.
    check.damaged.push_back(listPath);
    Output(out, "ERROR: The change_info_list file " + listPath +
                    " cannot be read: " + platform::FormatMessage(readError) + "\r\n");
    return check;
  }
  if (read != 0) {
    check.damaged.push_back(listPath);
    Output(out, "ERROR: The change_info_list file " + listPath + " cannot be read: line " +
                    std::to_string(badLine) + " is not a size and a file name.\r\n");
    return check;
  }
  const std::string directory = WithBackslash(ledgerDirectory);
  for (const ChangeInfoListEntry& file : files) {
    ++check.files;
    const std::string path = directory + file.relativePath;
    std::uint64_t size = 0;
    const DWORD error = platform::GetFileSize(path, size);
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      check.damaged.push_back(path);
      Output(out, "ERROR: Missing change information file: " + path + "\r\nThe backup wrote " +
                      std::to_string(file.size) + " bytes to it.\r\n");
    } else if (error != ERROR_SUCCESS) {
      ReportDamaged(out, check.damaged, path, "It cannot be read: " + platform::FormatMessage(error));
    } else if (size != file.size) {
      ReportDamaged(out, check.damaged, path,
                    "It holds " + std::to_string(size) + " bytes; the backup wrote " +
                        std::to_string(file.size) + ".");
    }
  }
  Output(out, "Checked the " + std::to_string(check.files) + " change information file" +
                  (check.files == 1 ? "" : "s") + " the backup listed: " +
                  std::to_string(check.damaged.size()) + " missing or damaged.\r\n");
  return check;
}

}  // namespace ark
