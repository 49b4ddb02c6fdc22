#include "restore/kept_logs.h"

#include <cstdio>

#include "domino/host_utils.h"
#include "domino/settings.h"
#include "output/output.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/text.h"

namespace ark {

namespace {

constexpr std::uint64_t kMegabyte = std::uint64_t(1) << 20;
// Restores of one server within the same second get folders "-2", "-3", ...
constexpr int kMaxFolderTries = 100;

std::string DriveText(char drive) { return std::string(1, drive) + ":"; }

std::string WithoutBackslash(std::string directory) {
  while (directory.size() > 3 && directory.back() == '\\') directory.pop_back();
  return directory;
}

// "20030302-090500": the local time, for the name of a folder of copies.
std::string FolderStamp() {
  SYSTEMTIME now;
  platform::GetLocalTime(now);
  char text[32];
  std::snprintf(text, sizeof text, "%04u%02u%02u-%02u%02u%02u", unsigned(now.wYear),
                unsigned(now.wMonth), unsigned(now.wDay), unsigned(now.wHour), unsigned(now.wMinute),
                unsigned(now.wSecond));
  return text;
}

// The plain files directly in a directory, with their sizes.
DWORD ListFiles(const std::string& directory, std::vector<platform::FindData>& files) {
  std::vector<platform::FindData> entries;
  const DWORD error = platform::FindFiles(directory + "*", entries);
  if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND) return error;
  for (platform::FindData& entry : entries) {
    if ((entry.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) files.push_back(std::move(entry));
  }
  return ERROR_SUCCESS;
}

std::string SystemText(DWORD error) { return platform::FormatMessage(error).substr(0, 1024); }

}  // namespace

KeptLogs::~KeptLogs() {
  if (!revertStarted_) RemoveFolder();
}

int KeptLogs::KeepAside(const std::string& ledgerRoot, std::string& errorText,
                        const std::function<std::string(const std::string& folder)>& folderChosen) {
  const DominoServerInfo& server = request_.server;
  const char drive = DataVolumeDrive(server);
  if (server.logDirectory.empty() || drive == 0 || DriveLetterOf(server.logDirectory) != drive) return 0;
  const std::string logDirectory = WithBackslash(server.logDirectory);
  const std::string shown = WithoutBackslash(server.logDirectory);

  auto fail = [&](const std::string& reason) {
    RemoveFolder();
    errorText = "ERROR: The active log directory " + shown + " lies on drive " + DriveText(drive) +
                ", which the restore reverts, and its files cannot be kept across the revert:\r\n" +
                reason + "\r\nRestore canceled; the volume was not changed.\r\n";
    Output(request_.output, errorText);
    return -1;
  };

  std::vector<platform::FindData> files;
  if (DirectoryExists(logDirectory) != 0) return 0;  // nothing there to lose
  if (const DWORD error = ListFiles(logDirectory, files); error != ERROR_SUCCESS) {
    return fail("Could not list the files of " + shown + ".\r\n" + SystemText(error));
  }

  const char ledgerDrive = DriveLetterOf(ledgerRoot);
  if (ledgerDrive == 0) return fail("CHANGE_INFO_DIR names no drive for their copies.");
  std::uint64_t bytes = 0;
  for (const platform::FindData& file : files) bytes += file.size;
  const std::uint64_t needed = (bytes + kMegabyte - 1) / kMegabyte;
  std::uint32_t freeMegabytes = 0;
  if (!GetFreeDiskMegabytes(std::string(1, ledgerDrive), freeMegabytes)) {
    return fail("The free space of the ArkLedger drive " + DriveText(ledgerDrive) +
                " could not be determined.");
  }
  if (!(freeMegabytes > needed)) {
    return fail("The ArkLedger drive " + DriveText(ledgerDrive) + " has " + std::to_string(freeMegabytes) +
                " MB free; their copies need " + std::to_string(needed) + " MB.");
  }

  // A folder of its own below the ArkLedger root, never one an earlier
  // restore left behind: that one may hold the only copy of older logs.
  std::string serverLedger;
  if (GetChangeInfoDir(server, "", serverLedger) != 0 || serverLedger.size() <= ledgerRoot.size()) {
    return fail("The server's ArkLedger directory cannot be formed.");
  }
  const std::string parent = ledgerRoot + kKeptLogsFolder + "\\" +
                             WithoutBackslash(serverLedger.substr(ledgerRoot.size())) + "\\";
  if (CreateDirectoryTree(parent) != 1) return fail("The folder " + parent + " could not be created.");
  const std::string stamp = FolderStamp();
  for (int attempt = 1; attempt <= kMaxFolderTries && folder_.empty(); ++attempt) {
    const std::string candidate = parent + stamp + (attempt == 1 ? "" : "-" + std::to_string(attempt));
    const DWORD error = platform::CreateDirectory(candidate);
    if (error == ERROR_SUCCESS) {
      folder_ = candidate + "\\";
    } else if (error != ERROR_ALREADY_EXISTS) {
      return fail("The folder " + candidate + " could not be created.\r\n" + SystemText(error));
    }
  }
  if (folder_.empty()) return fail("No new folder could be made in " + parent + ".");
  if (folderChosen) {
    if (const std::string reason = folderChosen(folder_); !reason.empty()) return fail(reason);
  }

  logDirectory_ = logDirectory;
  std::vector<std::string> copies;
  for (const platform::FindData& file : files) {
    const DWORD error = platform::CopyFile(logDirectory + file.name, folder_ + file.name, true);
    if (error != ERROR_SUCCESS) {
      return fail("Could not copy " + logDirectory + file.name + " to " + folder_ + file.name + "\r\n" +
                  SystemText(error));
    }
    names_.push_back(file.name);
    copies.push_back(folder_ + file.name);
  }
  // The copies must outlive a power cut during the revert.
  copies.push_back(WithoutBackslash(folder_));
  std::string failedPath;
  if (const DWORD error = platform::FlushAllToDisk(copies, failedPath); error != ERROR_SUCCESS) {
    return fail("Could not flush " + failedPath + " to the disk.\r\n" + SystemText(error));
  }
  Output(request_.output, "Keeping " + std::to_string(names_.size()) + " active log files of " + shown +
                              " across the revert\r\n" + "Their copies are in " + folder_ + "\r\n");
  return 0;
}

int KeptLogs::PutBack(std::string& errorText) {
  if (folder_.empty()) return 0;
  const std::string shown = WithoutBackslash(logDirectory_);
  auto fail = [&](const std::string& detail) {
    putBackFailed_ = true;
    errorText = "ERROR: Could not put the active log files back into " + shown + ":\r\n" + detail +
                "\r\nThe log files as they were before the revert are kept in:\r\n" + folder_ +
                "\r\nCopy them back into " + shown +
                " before the databases are recovered.\r\nRecovery was not run.\r\n";
    Output(request_.output, errorText);
    return -1;
  };

  // The revert may have taken the directory away, or brought back an older one.
  if (CreateDirectoryTree(logDirectory_) != 1) return fail("The directory could not be created.");
  for (const std::string& name : names_) {
    const DWORD error = platform::CopyFile(folder_ + name, logDirectory_ + name, false);
    if (error != ERROR_SUCCESS) {
      return fail("Could not copy " + folder_ + name + " to " + logDirectory_ + name + "\r\n" +
                  SystemText(error));
    }
  }
  // What the snapshot brought back and the directory did not hold goes.
  std::vector<platform::FindData> present;
  if (const DWORD error = ListFiles(logDirectory_, present); error != ERROR_SUCCESS) {
    return fail("Could not list the files of " + shown + ".\r\n" + SystemText(error));
  }
  for (const platform::FindData& file : present) {
    bool kept = false;
    for (const std::string& name : names_) kept = kept || platform::EqualsNoCase(name, file.name);
    if (kept) continue;
    if (const DWORD error = platform::DeleteFile(logDirectory_ + file.name); error != ERROR_SUCCESS) {
      return fail("Could not remove " + logDirectory_ + file.name + ", which the revert brought back.\r\n" +
                  SystemText(error));
    }
  }
  std::vector<std::string> written;
  for (const std::string& name : names_) written.push_back(logDirectory_ + name);
  written.push_back(shown);
  std::string failedPath;
  if (const DWORD error = platform::FlushAllToDisk(written, failedPath); error != ERROR_SUCCESS) {
    return fail("Could not flush " + failedPath + " to the disk.\r\n" + SystemText(error));
  }
  putBack_ = true;
  Output(request_.output,
         "Put back " + std::to_string(names_.size()) + " active log files into " + shown + "\r\n");
  return 0;
}

int KeptLogs::Adopt(const std::string& folder, const std::string& logDirectory, std::string& errorText) {
  folder_ = WithBackslash(folder);
  logDirectory_ = WithBackslash(logDirectory);
  revertStarted_ = true;
  std::vector<platform::FindData> files;
  const DWORD error = ListFiles(folder_, files);
  if (error != ERROR_SUCCESS) {
    putBackFailed_ = true;
    errorText = "ERROR: The folder " + folder_ + ", which keeps the active log files of " +
                WithoutBackslash(logDirectory_) + ", cannot be read:\r\n" + SystemText(error) +
                "\r\nRestore canceled.\r\n";
    Output(request_.output, errorText);
    return -1;
  }
  for (const platform::FindData& file : files) names_.push_back(file.name);
  return 0;
}

void KeptLogs::Discard() { RemoveFolder(); }

std::string KeptLogs::FailureNote() const {
  if (folder_.empty() || !revertStarted_ || putBackFailed_) return std::string();
  return "The active log files of " + WithoutBackslash(logDirectory_) +
         " as they were before the revert are kept in:\r\n" + folder_ + "\r\n";
}

void KeptLogs::RemoveFolder() {
  if (folder_.empty()) return;
  DeleteDirectoryTree(WithoutBackslash(folder_));
  // The server's folder and the one above go too once nothing else is in them.
  std::string parent = WithoutBackslash(folder_);
  for (int level = 0; level < 2; ++level) {
    parent = parent.substr(0, parent.find_last_of('\\'));
    if (platform::RemoveDirectory(parent) != ERROR_SUCCESS) break;
  }
  folder_.clear();
}

}  // namespace ark
