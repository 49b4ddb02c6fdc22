// Archiving the transaction logs that Domino has finished with into the
// snapshot's ArkLedger directory.
#include "backup/log_archive.h"

#include <cstdio>
#include <set>

#include "backup/database_backup.h"
#include "domino/domino_api.h"
#include "domino/host_utils.h"
#include "ledger/hint_files.h"
#include "ledger/log_files.h"
#include "output/output.h"
#include "platform/files.h"

namespace ark {

namespace {

constexpr std::size_t kLogPathSize = 1024;
constexpr std::size_t kArchiveErrorTextSize = 1024;

// An archiving session of the Domino runtime, ended on every way out.
class ArchiveSession {
 public:
  ArchiveSession() = default;
  ~ArchiveSession() {
    if (open_) Domino().ArchiveEnd();
  }
  ArchiveSession(const ArchiveSession&) = delete;
  ArchiveSession& operator=(const ArchiveSession&) = delete;

  STATUS Begin() {
    STATUS status = Domino().ArchiveBegin();
    open_ = status == NOERROR;
    return status;
  }
  STATUS End() {
    open_ = false;
    return Domino().ArchiveEnd();
  }

 private:
  bool open_ = false;
};

// Copies a log and flushes the copy and its directory (and, once, the
// directories above that) to the disk. A copy that cannot be flushed is a
// failed copy and is removed: it may not hold the log.
DWORD CopyDurably(const std::string& source, const std::string& target, std::set<std::string>& flushed) {
  if (const DWORD error = platform::CopyFile(source, target, true); error != ERROR_SUCCESS) return error;
  const std::string directory = target.substr(0, target.find_last_of('\\'));
  std::string failed;
  DWORD error = platform::FlushToDisk(target);
  if (error == ERROR_SUCCESS) error = platform::FlushToDisk(directory);
  if (error == ERROR_SUCCESS) error = FlushDirectoriesAbove(directory, flushed, failed);
  if (error != ERROR_SUCCESS) platform::DeleteFile(target);
  return error;
}

}  // namespace

int CopyLogsToLedger(BackupRequest& request, const std::string& ledgerDirectory) {
  if (ledgerDirectory.empty()) return -1;
  const std::string destination = LogsFolderOf(ledgerDirectory);
  // The archiving stops at the log in which the backup started (its
  // log_hint); logs finished since wait for the next backup. Without that
  // bound, a server that fills logs faster than each can be copied and
  // flushed would keep the backup archiving for ever.
  DWORD firstLogLeft = kArchiveEveryLog;
  DWORD hintLog = 0;
  std::string series, hintPath;
  if (ReadLogHint(ledgerDirectory, hintLog, series, hintPath) == 0 && hintLog != 0) firstLogLeft = hintLog;
  std::vector<DWORD> archived;
  ArchiveTransactionLogs(request, destination, archived, firstLogLeft);
  return 0;
}

int ArchiveTransactionLogs(BackupRequest& request, const std::string& destination,
                           std::vector<DWORD>& archived, DWORD firstLogLeft) {
  std::printf("Archiving logs in log dir: %s\n", destination.c_str());
  std::fflush(stdout);

  ArchiveSession session;
  STATUS status = session.Begin();
  if (status != NOERROR) {
    Output(request.output, "ERROR: " + DominoErrorText(status, kArchiveErrorTextSize) + "\r\n");
    return -1;
  }

  DominoApi& api = Domino();
  std::set<std::string> flushed;  // directories above the destination
  for (bool first = true;; first = false) {
    BYTE logId[16] = {};
    DWORD logNumber = 0;
    char source[kLogPathSize] = {};
    status = first ? api.GetFirstArchiveLog(logId, &logNumber, source)
                   : api.GetNextArchiveLog(logId, &logNumber, source);
    source[kLogPathSize - 1] = 0;
    if (status == ERR_NO_MORE_LOGS) {
      session.End();
      if (first) Output(request.output, "Domino reports no logs to archive\r\n");
      return 0;
    }
    if (status != NOERROR) {
      session.End();
      return -1;
    }
    if (firstLogLeft != kArchiveEveryLog && logNumber >= firstLogLeft) {
      session.End();
      return 0;
    }

    CreateDominoDirectory(destination);
    const std::string target = destination + ArchivedLogName(logNumber);
    archived.push_back(logNumber);
    Output(request.output, std::string("Archiving ") + source + "\r\n");

    // The log is marked archived only once its copy is on the disk; a log
    // that could not be copied stays with Domino for the next backup. The
    // system's text says why (a full ArkLedger volume, a copy already there).
    if (const DWORD copyError = CopyDurably(source, target, flushed); copyError != ERROR_SUCCESS) {
      Output(request.output, std::string("Could not copy ") + source + "\r\n" +
                                 platform::FormatMessage(copyError).substr(0, kArchiveErrorTextSize) + "\r\n");
      return session.End() == NOERROR ? 0 : -1;
    }
    if (api.MarkLogArchived(logId, logNumber) != NOERROR) {
      return session.End() == NOERROR ? 0 : -1;
    }
  }
}

}  // namespace ark
