// Databases: open and close, offline and online, the database record, log
// facts, backup mode and the change information.
#include <cstring>

#include "dominosim/sim_api.h"
#include "dominosim/status.h"

namespace dominosim {

using Lock = std::lock_guard<std::recursive_mutex>;

Database* SimApi::Find(DBHANDLE handle) {
  auto it = databases_.find(handle);
  return it == databases_.end() ? nullptr : it->second.get();
}

STATUS SimApi::OpenDatabase(const char* path, DBHANDLE* handle) {
  Lock lock(mutex_);
  if (handle == nullptr || path == nullptr) return ERR_BAD_ARGUMENT;
  *handle = 0;
  if (!initialized_) return ERR_NOT_INITIALIZED;
  std::string host;
  DatabaseOptions options;
  if (STATUS s = Locate(path, host, options)) return s;
  // The engine holds every database of a server open during a backup: each
  // holds one descriptor, not the database file's as well.
  options.keepFileOpen = false;
  TxnLog* log = nullptr;
  if (config_.logging) {
    if (STATUS s = Log(&log)) return s;
  }
  options.log = log;
  std::unique_ptr<Database> db;
  bool offline = false;
  if (STATUS s = Database::Open(host, options, db, &offline)) return s;
  if (offline) return ERR_DB_OFFLINE;
  DBHANDLE h = nextHandle_++;
  if (nextHandle_ == 0) nextHandle_ = 1;
  databases_[h] = std::move(db);
  *handle = h;
  return NOERROR;
}

STATUS SimApi::CloseDatabase(DBHANDLE handle) {
  Lock lock(mutex_);
  if (readAhead_.handle == handle) readAhead_.handle = 0;
  return databases_.erase(handle) == 1 ? NOERROR : ERR_BAD_HANDLE;
}

STATUS SimApi::ReadDatabaseRecord(DBHANDLE handle, BYTE record[128]) {
  Lock lock(mutex_);
  Database* db = Find(handle);
  if (db == nullptr) return ERR_BAD_HANDLE;
  return db->ReadDbRecord(record);
}

STATUS SimApi::WriteDatabaseRecord(DBHANDLE handle, const BYTE record[128]) {
  Lock lock(mutex_);
  Database* db = Find(handle);
  if (db == nullptr) return ERR_BAD_HANDLE;
  if (config_.logging) {
    TxnLog* log = nullptr;
    if (STATUS s = Log(&log)) return s;
  }
  return db->WriteDbRecord(record);
}

STATUS SimApi::Locate(const char* path, std::string& host, DatabaseOptions& options) {
  if (STATUS s = MapPath(path, host)) return s;
  options.volumeDrive = DriveOf(path);
  options.stateDir = config_.stateDirHost;
  return NOERROR;
}

STATUS SimApi::OpenState(const char* path, std::unique_ptr<Database>& out) {
  if (path == nullptr) return ERR_BAD_ARGUMENT;
  if (!initialized_) return ERR_NOT_INITIALIZED;
  std::string host;
  DatabaseOptions options;
  if (STATUS s = Locate(path, host, options)) return s;
  return Database::OpenStateOf(host, options, out);
}

STATUS SimApi::TakeDatabaseOffline(const char* path, DWORD waitMilliseconds, DWORD options) {
  Lock lock(mutex_);
  if (options != 0) return ERR_BAD_ARGUMENT;
  std::unique_ptr<Database> db;
  if (STATUS s = OpenState(path, db)) return s;
  return db->TakeOffline(waitMilliseconds);
}

STATUS SimApi::BringDatabaseOnline(const char* path, DWORD options) {
  Lock lock(mutex_);
  if (options != 0) return ERR_BAD_ARGUMENT;
  std::unique_ptr<Database> db;
  if (STATUS s = OpenState(path, db)) return s;
  return db->BringOnline();
}

STATUS SimApi::GetDatabaseLogInfo(DBHANDLE handle, DWORD, DWORD* logged, BYTE logId[16],
                                  BYTE secondId[16], DWORD* logExtent) {
  Lock lock(mutex_);
  Database* db = Find(handle);
  if (db == nullptr) return ERR_BAD_HANDLE;
  DbHeader header;
  if (STATUS s = db->ReadHeader(header)) return s;
  Id16 serverLog{};
  DWORD extent = 0;
  TxnLog* log = nullptr;
  if (config_.logging) {
    if (STATUS s = Log(&log)) return s;
    LogControl control;
    if (STATUS s = log->ReadControl(control)) return s;
    serverLog = log->logId();
    extent = control.currentExtent;  // the extent that takes the next record
  }
  if (logged != nullptr) *logged = (log != nullptr && header.logged != 0) ? 1 : 0;
  if (logId != nullptr) std::memcpy(logId, serverLog.data(), 16);
  if (secondId != nullptr) std::memcpy(secondId, header.instanceId.data(), 16);
  if (logExtent != nullptr) *logExtent = extent;
  return NOERROR;
}

STATUS SimApi::BackupStart(DBHANDLE handle, DWORD, DWORD* context, DWORD* value1, DWORD* value2) {
  Lock lock(mutex_);
  Database* db = Find(handle);
  if (db == nullptr) return ERR_BAD_HANDLE;
  if (context == nullptr) return ERR_BAD_ARGUMENT;
  if (value1 != nullptr) *value1 = 0;
  if (value2 != nullptr) *value2 = 0;
  return db->BackupStart(context);
}

STATUS SimApi::BackupStop(DBHANDLE handle, DWORD context) {
  Lock lock(mutex_);
  Database* db = Find(handle);
  if (db == nullptr) return ERR_BAD_HANDLE;
  if (config_.logging) {
    TxnLog* log = nullptr;
    if (STATUS s = Log(&log)) return s;
  }
  return db->BackupStop(context);
}

STATUS SimApi::BackupEnd(DBHANDLE handle, DWORD context, DWORD abandon) {
  Lock lock(mutex_);
  Database* db = Find(handle);
  if (db == nullptr) return ERR_BAD_HANDLE;
  return db->BackupEnd(context, abandon != 0);
}

STATUS SimApi::GetChangeInfoSize(DBHANDLE handle, DWORD context, DWORD, DWORD* low, DWORD* high) {
  Lock lock(mutex_);
  Database* db = Find(handle);
  if (db == nullptr) return ERR_BAD_HANDLE;
  std::uint64_t size = 0;
  if (STATUS s = db->ChangeInfoSize(context, &size)) return s;
  if (low != nullptr) *low = DWORD(size & 0xFFFFFFFFu);
  if (high != nullptr) *high = DWORD(size >> 32);
  return NOERROR;
}

STATUS SimApi::GetChangeInfo(DBHANDLE handle, DWORD context, DWORD, void* buffer, DWORD size,
                             DWORD* length) {
  Lock lock(mutex_);
  if (length != nullptr) *length = 0;
  Database* db = Find(handle);
  if (db == nullptr) return ERR_BAD_HANDLE;
  if (buffer == nullptr || length == nullptr) return ERR_BAD_ARGUMENT;
  return db->ReadChangeInfo(context, buffer, size, length);
}

STATUS SimApi::ApplyChangeInfoStart(DWORD* applyContext, const char* targetPath, DWORD, DWORD low,
                                    DWORD high) {
  Lock lock(mutex_);
  if (applyContext == nullptr || targetPath == nullptr) return ERR_BAD_ARGUMENT;
  *applyContext = 0;
  if (!initialized_) return ERR_NOT_INITIALIZED;
  std::string host;
  if (STATUS s = MapPath(targetPath, host)) return s;
  std::unique_ptr<ChangeApplier> applier;
  std::uint64_t size = (std::uint64_t(high) << 32) | low;
  if (STATUS s = ChangeApplier::Start(host, DriveOf(targetPath), size, applier)) return s;
  DWORD id = nextApply_++;
  if (nextApply_ == 0) nextApply_ = 1;
  appliers_[id] = std::move(applier);
  *applyContext = id;
  return NOERROR;
}

STATUS SimApi::ApplyChangeInfo(DWORD applyContext, DWORD, const void* buffer, DWORD length) {
  Lock lock(mutex_);
  auto it = appliers_.find(applyContext);
  if (it == appliers_.end()) return ERR_BAD_APPLY_CONTEXT;
  if (buffer == nullptr && length > 0) return ERR_BAD_ARGUMENT;
  return it->second->Feed(buffer, length);
}

STATUS SimApi::ApplyChangeInfoEnd(DWORD applyContext, DWORD) {
  Lock lock(mutex_);
  auto it = appliers_.find(applyContext);
  if (it == appliers_.end()) return ERR_BAD_APPLY_CONTEXT;
  STATUS status = it->second->Finish();
  appliers_.erase(it);
  return status;
}

}  // namespace dominosim
