// The transaction log: style, archiving and recovery.
#include <cstdio>
#include <cstring>
#include <vector>

#include "dominosim/recovery.h"
#include "dominosim/sim_api.h"
#include "dominosim/status.h"
#include "platform/kit/process.h"

namespace dominosim {

using Lock = std::lock_guard<std::recursive_mutex>;

namespace {

// The buffer of a packed list: a list whose closing NUL lies beyond it is
// refused (ERR_BAD_LIST), as the runtime takes the list in one buffer of
// this size.
constexpr std::size_t kMaxPackedList = 65536;

// The recovery that the options ask for. The runtime has no alternate path
// for archived logs and no view of other copies' instance ids: it refuses
// DBRECOVER_ALT_RETRIEVE_PATH and DBRECOVER_ZAP_ID_IF_NECESSARY, and any
// option it does not know. Our TIMEDATE holds a FILETIME (TextToTimeDate).
STATUS ReadRecoveryOptions(DWORD options, const TIMEDATE* recoveryTime, RecoveryOptions& out) {
  constexpr DWORD kKnown = DBRECOVER_WAIT | DBRECOVER_ZAP_ID | DBRECOVER_REFRESH_BACKUP |
                           DBRECOVER_POINT_IN_TIME | DBRECOVER_ZAP_REPLICAID;
  constexpr DWORD kNewInstance = DBRECOVER_ZAP_ID | DBRECOVER_POINT_IN_TIME | DBRECOVER_ZAP_REPLICAID;
  if ((options & ~kKnown) != 0) return ERR_BAD_ARGUMENT;
  if ((options & DBRECOVER_REFRESH_BACKUP) != 0 && (options & kNewInstance) != 0) return ERR_BAD_ARGUMENT;
  out.toMoment = (options & DBRECOVER_POINT_IN_TIME) != 0;
  if (out.toMoment) {
    if (recoveryTime == nullptr) return ERR_BAD_ARGUMENT;
    out.moment = (std::uint64_t(recoveryTime->Innards[1]) << 32) | recoveryTime->Innards[0];
  }
  out.newInstanceId = (options & kNewInstance) != 0;
  out.newReplicaId = (options & DBRECOVER_ZAP_REPLICAID) != 0;
  return NOERROR;
}

}  // namespace

STATUS SimApi::Log(TxnLog** out) {
  *out = nullptr;
  if (!initialized_) return ERR_NOT_INITIALIZED;
  if (!config_.logging) return ERR_LOGGING_DISABLED;
  if (log_) {
    if (STATUS s = log_->ReopenIfReplaced()) return s;
    *out = log_.get();
    return NOERROR;
  }
  if (config_.logDirHost.empty()) return ERR_LOG_NOT_FOUND;
  LogOptions options;
  options.dir = config_.logDirHost;
  options.style = config_.style == 1 ? LogStyle::Archive : LogStyle::Circular;
  options.extentBytes = config_.extentBytes;
  options.circularExtents = config_.circularExtents;
  options.create = true;
  if (STATUS s = TxnLog::Open(options, log_)) return s;
  *out = log_.get();
  return NOERROR;
}

STATUS SimApi::GetLoggingStyle(DWORD* style) {
  Lock lock(mutex_);
  if (style == nullptr) return ERR_BAD_ARGUMENT;
  if (!initialized_) return ERR_NOT_INITIALIZED;
  if (!config_.logging) return ERR_LOGGING_DISABLED;
  *style = config_.style;
  return NOERROR;
}

STATUS SimApi::ArchiveBegin() {
  Lock lock(mutex_);
  TxnLog* log = nullptr;
  if (STATUS s = Log(&log)) return s;
  if (log->style() != LogStyle::Archive) return ERR_NOT_ARCHIVE_LOGGING;
  archiveCursor_ = 0;
  return NOERROR;
}

STATUS SimApi::ArchiveEnd() {
  Lock lock(mutex_);
  archiveCursor_ = 0;
  return initialized_ ? NOERROR : ERR_NOT_INITIALIZED;
}

STATUS SimApi::ArchiveStep(std::uint32_t from, BYTE logId[16], DWORD* logNumber, char* path) {
  if (logId == nullptr || logNumber == nullptr || path == nullptr) return ERR_BAD_ARGUMENT;
  path[0] = '\0';
  TxnLog* log = nullptr;
  if (STATUS s = Log(&log)) return s;
  std::uint32_t number = 0;
  STATUS status = log->NextArchivable(from, &number);
  if (status != NOERROR && status != ERR_NO_MORE_LOGS) return status;
  // With ERR_NO_MORE_LOGS the number is the current extent: the log's position.
  std::memcpy(logId, log->logId().data(), 16);
  *logNumber = number;
  if (status == NOERROR) {
    std::string win = JoinWin(config_.logDirWin, ExtentFileName(number));
    std::snprintf(path, 1024, "%s", win.c_str());
    archiveCursor_ = number + 1;
  }
  return status;
}

STATUS SimApi::GetFirstArchiveLog(BYTE logId[16], DWORD* logNumber, char* path) {
  Lock lock(mutex_);
  return ArchiveStep(0, logId, logNumber, path);
}

STATUS SimApi::GetNextArchiveLog(BYTE logId[16], DWORD* logNumber, char* path) {
  Lock lock(mutex_);
  return ArchiveStep(archiveCursor_, logId, logNumber, path);
}

STATUS SimApi::MarkLogArchived(const BYTE logId[16], DWORD logNumber) {
  Lock lock(mutex_);
  if (logId == nullptr) return ERR_BAD_ARGUMENT;
  TxnLog* log = nullptr;
  if (STATUS s = Log(&log)) return s;
  Id16 id;
  std::memcpy(id.data(), logId, 16);
  return log->MarkArchived(id, logNumber);
}

STATUS SimApi::RecoverDatabaseList(const char* packedList, ArchivedLogCallbackFn callback, DWORD options,
                                   WORD* failingPosition, TIMEDATE* recoveryTime) {
  Lock lock(mutex_);
  if (failingPosition != nullptr) *failingPosition = 0;
  if (!initialized_) return ERR_NOT_INITIALIZED;
  if (packedList == nullptr) return ERR_BAD_LIST;
  RecoveryOptions recovery;
  if (STATUS s = ReadRecoveryOptions(options, recoveryTime, recovery)) return s;
  std::vector<RecoveryTarget> targets;
  std::size_t offset = 0;
  while (offset < kMaxPackedList && packedList[offset] != '\0') {
    std::size_t n = strnlen(packedList + offset, kMaxPackedList - offset);
    if (offset + n >= kMaxPackedList) return ERR_BAD_LIST;
    RecoveryTarget target;
    target.name.assign(packedList + offset, n);
    target.pathStatus = MapPath(target.name, target.hostPath);
    target.volumeDrive = DriveOf(target.name);
    targets.push_back(std::move(target));
    offset += n + 1;
  }
  if (offset >= kMaxPackedList) return ERR_BAD_LIST;
  if (targets.empty()) return NOERROR;
  TxnLog* log = nullptr;
  if (STATUS s = Log(&log)) {
    // Without a log nothing can be rolled forward: the first database is at fault.
    if (failingPosition != nullptr) *failingPosition = 1;
    return s == ERR_LOGGING_DISABLED ? ERR_DB_NOT_LOGGED : s;
  }
  std::string logDirWin = config_.logDirWin;
  // Progress goes to standard output, as the library's does.
  platform::kit::StandardOutput out;
  FetchExtentFn fetch = [callback, logDirWin, &out](std::uint32_t number) {
    if (callback == nullptr) return;
    std::string path = JoinWin(logDirWin, ExtentFileName(number));
    std::fflush(out.get());
    callback(nullptr, number, path.c_str());
  };
  RecoveryResult result = RecoverDatabases(targets, *log, config_.stateDirHost, fetch, out.get(), recovery);
  std::fflush(out.get());
  if (failingPosition != nullptr) *failingPosition = result.failingPosition;
  if (result.status == NOERROR && recoveryTime != nullptr) {
    recoveryTime->Innards[0] = DWORD(result.lastCommit & 0xFFFFFFFFu);
    recoveryTime->Innards[1] = DWORD(result.lastCommit >> 32);
  }
  return result.status;
}

}  // namespace dominosim
