// Archiving the transaction logs that Domino has finished with into the
// snapshot's ArkLedger directory.
#include "backup/log_archive.h"

#include <cstdio>
#include <algorithm>
#include <array>
#include <string>
#include <vector>

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

// The logs copied by one archiving and not yet marked archived. Whatever
// way the archiving ends, the copies of those whose mark was never tried
// are removed: they may not be on the disk, and Domino hands them out again.
class CopiedLogs {
 public:
  struct Log {
    std::array<BYTE, 16> id;
    DWORD number;
    std::string source, target;
  };
  ~CopiedLogs() {
    for (std::size_t i = tried_; i < logs_.size(); ++i) platform::DeleteFile(logs_[i].target);
  }
  std::vector<Log>& logs() { return logs_; }
  // The mark of the next log is being tried: its copy stays, whatever the answer.
  const Log& Try() { return logs_[tried_++]; }
  bool AllTried() const { return tried_ == logs_.size(); }

 private:
  std::vector<Log> logs_;
  std::size_t tried_ = 0;
};

// Makes the copies durable, all at once, and marks each log archived; a log
// is marked only once its copy is on the disk. A flush that fails is a
// failed copy of the log it names (or of the first). False when the
// archiving stops here.
bool FlushAndMark(BackupRequest& request, CopiedLogs& copied, const std::string& destination) {
  if (copied.logs().empty()) return true;
  platform::FlushBatch batch;
  for (const CopiedLogs::Log& log : copied.logs()) batch.Add(log.target);
  const std::string directory = destination.substr(0, destination.find_last_of('\\'));
  batch.Add(directory);
  batch.AddDirectoriesAbove(directory);
  std::string failed;
  if (const DWORD error = batch.Flush(failed); error != ERROR_SUCCESS) {
    std::string source = copied.logs().front().source;
    for (const CopiedLogs::Log& log : copied.logs()) {
      if (log.target == failed) source = log.source;
    }
    Output(request.output, "Could not copy " + source + "\r\n" +
                               platform::FormatMessage(error).substr(0, kArchiveErrorTextSize) + "\r\n");
    return false;
  }
  while (!copied.AllTried()) {
    const CopiedLogs::Log& log = copied.Try();
    if (Domino().MarkLogArchived(log.id.data(), log.number) != NOERROR) return false;
  }
  return true;
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

  // Every log is copied first, then the copies are flushed together and
  // the logs marked archived: one flush for all of them.
  DominoApi& api = Domino();
  CopiedLogs copied;
  int result = 0;
  bool stopped = false;  // by a copy that failed
  for (bool first = true;; first = false) {
    BYTE logId[16] = {};
    DWORD logNumber = 0;
    char source[kLogPathSize] = {};
    status = first ? api.GetFirstArchiveLog(logId, &logNumber, source)
                   : api.GetNextArchiveLog(logId, &logNumber, source);
    source[kLogPathSize - 1] = 0;
    if (status == ERR_NO_MORE_LOGS) {
      if (first) Output(request.output, "Domino reports no logs to archive\r\n");
      break;
    }
    if (status != NOERROR) {
      result = -1;
      break;
    }
    if (firstLogLeft != kArchiveEveryLog && logNumber >= firstLogLeft) break;

    CreateDominoDirectory(destination);
    const std::string target = destination + ArchivedLogName(logNumber);
    archived.push_back(logNumber);
    Output(request.output, std::string("Archiving ") + source + "\r\n");

    // A log that could not be copied stays with Domino for the next backup,
    // and the archiving stops. The system's text says why (a full ArkLedger
    // volume, a copy already there).
    if (const DWORD copyError = platform::CopyFile(source, target, true); copyError != ERROR_SUCCESS) {
      Output(request.output, std::string("Could not copy ") + source + "\r\n" +
                                 platform::FormatMessage(copyError).substr(0, kArchiveErrorTextSize) + "\r\n");
      stopped = true;
      break;
    }
    CopiedLogs::Log log{{}, logNumber, source, target};
    std::copy(std::begin(logId), std::end(logId), log.id.begin());
    copied.logs().push_back(std::move(log));
  }
  if (!FlushAndMark(request, copied, destination)) stopped = true;
  // Stopped by a copy, a flush or a mark, the archiving's result is whether
  // its session could be ended; a failed walk fails it.
  const STATUS ended = session.End();
  if (result != 0) return -1;
  return stopped && ended != NOERROR ? -1 : 0;
}

}  // namespace ark
