#include "restore/recovery_logs.h"

#include "backup/database_backup.h"
#include "domino/host_utils.h"
#include "domino/settings.h"
#include "ledger/hint_files.h"
#include "ledger/log_files.h"
#include "output/output.h"
#include "platform/debug.h"
#include "platform/files.h"
#include "platform/text.h"

namespace ark {

namespace {

constexpr const char* kNotPossible = "UP TO THE MINUTE restore is not possible\r\n";

// Prints the message, makes it the error text and gives -1.
int Fail(RestoreRequest& request, std::string& errorText, const std::string& message) {
  Output(request.output, message);
  errorText = message;
  return -1;
}

// The outcome of looking for one needed log among the candidates.
enum class Found { InActiveDirectory, ToCopy, Missing, ForeignSeries };

Found FindNeededLog(RestoreRequest& request, const std::vector<std::string>& candidates,
                    const std::string& name, const std::string& activeLogDirectory,
                    const std::string& snapshotSeries, std::string& source,
                    std::string& foundName) {
  for (const std::string& path : candidates) {
    SplitPathResult parts;
    if (SplitPath(path, parts) != 0 || !platform::EqualsNoCase(parts.fileName, name)) continue;
    const std::string& directory = parts.driveAndDirectory;
    if (!directory.empty() && platform::StartsWithNoCase(activeLogDirectory, directory)) {
      Output(request.output, "Found log " + parts.fileName + ".TXN in active log directory.\r\n");
      return Found::InActiveDirectory;
    }
    if (platform::GetFileAttributes(path) == INVALID_FILE_ATTRIBUTES) continue;
    DWORD extent = 0;
    std::string series, hintPath;
    foundName = parts.fileName;
    if (ReadLogHint(LedgerOfLogsFolder(parts.driveAndDirectory), extent, series, hintPath) != 0 ||
        series != snapshotSeries) {
      return Found::ForeignSeries;
    }
    source = path;
    return Found::ToCopy;
  }
  return Found::Missing;
}

}  // namespace

int EnsureRecoveryLogs(RestoreRequest& request, std::vector<std::string>& copiedLogs,
                       std::string& errorText,
                       const std::function<void(const std::string& path)>& logCopied) {
  const DominoServerInfo& server = request.server;
  Output(request.output, "Determining necessary logs for UP TO THE MINUTE RESTORE\r\n");

  if (server.logDirectory.empty()) {
    return Fail(request, errorText,
                "ERROR: The server's transaction log directory is not known.\r\n" +
                    std::string(kNotPossible));
  }
  const std::string activeLogDirectory = WithBackslash(server.logDirectory);
  std::string root;
  const std::string shortName = ServerShortName(server);
  if (GetChangeInfoRoot(root) != 0 || root.empty() || shortName.empty()) {
    return Fail(request, errorText, "ERROR: Could not obtain location of ArkLedger directory\r\n");
  }
  const std::string serverLedger = root + shortName + "\\";
  const std::string snapshotLedger = serverLedger + request.snapshot.name;

  DWORD firstLog = 0;
  std::string snapshotSeries, hintPath;
  if (ReadLogHint(snapshotLedger, firstLog, snapshotSeries, hintPath) != 0) {
    return Fail(request, errorText,
                "ERROR: Could not open log hint file:\r\n" + WithBackslash(snapshotLedger) + kLogHintName +
                    "\r\n");
  }
  if (firstLog == 0) firstLog = 1;
  Output(request.output, "Snapshot Log Series : 0x" + snapshotSeries + "\r\n");

  DWORD currentLog = 0;
  std::string currentSeries;
  if (const int status = GetCurrentLogPosition(currentLog, currentSeries); status != 0) {
    return Fail(request, errorText,
                "ERROR: Could not find the current transaction log: " + DominoErrorText(STATUS(status)) +
                    "\r\n" + kNotPossible);
  }
  Output(request.output, "Current Log Series : 0x" + currentSeries + "\r\n");

  if (currentSeries != snapshotSeries) {
    return Fail(request, errorText,
                "ERROR: The Log Series of the current transaction log (0x" + currentSeries +
                    ")\r\n" + "Does not match the Snapshot Log Series (0x" + snapshotSeries +
                    ")\r\n" + kNotPossible);
  }
  if (firstLog == currentLog) {
    Output(request.output, "No additional log files required for restore\r\n");
    return 0;
  }

  std::vector<std::string> candidates;
  FindTransactionLogs(serverLedger, candidates);
  FindTransactionLogs(activeLogDirectory, candidates);

  Output(request.output, "First log needed for restore: " + ArchivedLogName(firstLog) + "\r\n");
  Output(request.output, "Last log needed for restore: " + ArchivedLogName(currentLog) + "\r\n");

  std::vector<std::string> toCopy;
  for (DWORD n = firstLog; n < currentLog; ++n) {
    const std::string name = LogBaseName(n);
    std::string source, foundName;
    switch (FindNeededLog(request, candidates, name, activeLogDirectory, snapshotSeries, source,
                          foundName)) {
      case Found::InActiveDirectory:
        break;
      case Found::ToCopy:
        toCopy.push_back(source);
        break;
      case Found::ForeignSeries:
        return Fail(request, errorText,
                    "ERROR: Found log " + foundName + ".TXN\r\n" +
                        "However it does not match the current log series\r\n" + kNotPossible);
      case Found::Missing:
        return Fail(request, errorText,
                    "ERROR: Could not find archive log file: " + name + ".TXN\r\n" +
                        "Log is not located in Server's arkledger directory:\r\n" + serverLedger);
    }
  }

  Output(request.output, "Verified all logs are available\r\nCopying logs to active log directory\r\n");

  // The drive of the log directory itself: the storage's listing names the
  // log volume only when it is one of its disks.
  char letter = DriveLetterOf(server.logDirectory);
  if (letter == 0 && server.logVolume.driveLetter > 0 && server.logVolume.driveLetter < 0x80) {
    letter = char(server.logVolume.driveLetter);
  }
  const std::string driveLetter = letter != 0 ? std::string(1, letter) : std::string();
  std::uint32_t freeMegabytes = 0;
  if (driveLetter.empty() ||
      !GetFreeDiskMegabytes(driveLetter, freeMegabytes)) {
    const std::string drive = driveLetter.empty() ? std::string("(none)") : driveLetter + ":";
    return Fail(request, errorText,
                "ERROR: Could not determine the free space of the active log drive " + drive +
                    "\r\n" + kNotPossible);
  }
  const unsigned long long needed = (unsigned long long)kLogFileMegabytes * toCopy.size();
  Output(request.output, "Active log drive has " + std::to_string(freeMegabytes) +
                             " MB free.\r\n" + std::to_string(needed) +
                             " MB to copy to active log drive.\r\n");
  if (!(freeMegabytes > needed)) {
    return Fail(request, errorText,
                "ERROR: Active log directory needs an additional " +
                    std::to_string(needed - freeMegabytes) + "MB.\r\n" +
                    "Not enough free space on the active log drive.\r\n");
  }

  // Recovery reads the copies only once they are on the disk: all are
  // copied, then flushed together; a copy that cannot be flushed is a failed
  // copy, and none of this run's copies stays.
  const auto copyFailed = [&](const std::string& source, const std::string& destination, DWORD error) {
    return Fail(request, errorText,
                "ERROR: Could not copy log file: " + source + " to:\r\n" + destination + "\r\n" +
                    platform::FormatMessage(error).substr(0, 1024) + "\r\n");
  };
  const std::size_t firstCopied = copiedLogs.size();
  std::vector<std::string> sources;  // of the copies made here
  platform::FlushBatch batch;
  for (const std::string& source : toCopy) {
    SplitPathResult parts;
    SplitPath(source, parts);
    const std::string destination = activeLogDirectory + parts.fileName + ".TXN";
    Output(request.output, "Copying log file : " + parts.fileName + ".TXN\r\n");
    const DWORD error = platform::CopyFile(source, destination, true);
    if (error == ERROR_SUCCESS) {
      copiedLogs.push_back(destination);
      sources.push_back(source);
      batch.Add(destination);
      batch.AddDirectoriesAbove(destination);
      if (logCopied) logCopied(destination);
    } else if (error == ERROR_FILE_EXISTS) {
      Output(request.output, destination + " already exists in active log directory\r\n");
    } else {
      return copyFailed(source, destination, error);
    }
  }
  std::string failed;
  if (const DWORD error = batch.Flush(failed); error != ERROR_SUCCESS) {
    std::size_t named = firstCopied;  // the copy the failure names, else the first
    for (std::size_t i = firstCopied; i < copiedLogs.size(); ++i) {
      if (copiedLogs[i] == failed) named = i;
    }
    const std::string source = sources[named - firstCopied], destination = copiedLogs[named];
    for (std::size_t i = firstCopied; i < copiedLogs.size(); ++i) platform::DeleteFile(copiedLogs[i]);
    copiedLogs.resize(firstCopied);
    return copyFailed(source, destination, error);
  }
  return 0;
}

int RemoveCopiedLogs(RestoreRequest& request, const std::vector<std::string>& copiedLogs) {
  for (const std::string& path : copiedLogs) {
    const DWORD error = platform::DeleteFile(path);
    platform::OutputDebugString(path);
    if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND) {
      Output(request.output, "Removing log: " + path + "\r\n" +
                                 platform::FormatMessage(error).substr(0, 1024) + "\r\n");
    }
  }
  return 0;
}

CopiedLogsGuard::~CopiedLogsGuard() {
  try {
    RemoveNow();
  } catch (...) {
    // A destructor must not raise; the deletion messages are best effort.
  }
}

int CopiedLogsGuard::RemoveNow() {
  if (removed_) return 0;
  removed_ = true;
  return RemoveCopiedLogs(request_, copiedLogs_);
}

}  // namespace ark
