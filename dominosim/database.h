// A database of the simulated runtime: a file of pages with a header page.
//
// Every change is one transaction: under the volume's shared write lock and
// the database's own lock it is logged (for a logged database of a logging
// server), written into the file, and noted for the change information when
// a backup records the database. The database's lock and backup-mode state
// live in a state directory outside the data volume, so every process of the
// server (the simulated server, the service, the tools) sees the same state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dominosim/page_format.h"
#include "platform/kit/file_io.h"

namespace dominosim {

using platform::kit::SharedMapping;
using platform::kit::UniqueFd;

class TxnLog;

struct DatabaseOptions {
  char volumeDrive = 0;   // drive whose shared write lock covers each write; 0: none
  std::string stateDir;   // host directory of the backup-mode state (required)
  TxnLog* log = nullptr;  // the server's log; nullptr: changes are not logged
  // true: the database file stays open while the object lives. false: it is
  // opened for each operation and closed after it, so that an open database,
  // in backup mode or not, holds one descriptor (its state file): the
  // service holds every database of a server open at once.
  bool keepFileOpen = true;
};

// One page of a transaction: payload holds kPagePayload bytes.
struct PageWrite {
  std::uint32_t pageNo = 0;
  const std::uint8_t* payload = nullptr;
};

struct CreateParams {
  std::uint32_t dataPages = 4;
  bool logged = true;
  Id16 instanceId = NewRandomId();
  Id16 logId{};
  std::uint64_t lastLsn = 0;      // the log's position at creation
  std::uint32_t lastExtent = 1;
  std::array<std::uint8_t, kDbRecordSize> dbRecord{};
  std::uint64_t seed = 1;         // page contents come from a seeded generator
  std::uint64_t created = 0;      // FILETIME
};

class Database {
 public:
  // Writes a new database file (through a temporary and a rename);
  // ERR_DB_EXISTS when the path exists.
  static STATUS Create(const std::string& hostPath, const CreateParams& params);
  // ERR_FILE_NOT_FOUND, ERR_NOT_DATABASE, ERR_DB_VERSION, ERR_DB_CORRUPT
  // (damaged header, file shorter than its pages) or ERR_IO.
  // offline (optional): whether the database was offline when opened, read
  // under the same lock as the header.
  static STATUS Open(const std::string& hostPath, const DatabaseOptions& options,
                     std::unique_ptr<Database>& out, bool* offline = nullptr);

  Database() = default;  // use Open
  ~Database();           // gives up a backup this object still holds
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  const std::string& path() const { return path_; }
  STATUS ReadHeader(DbHeader& out);
  STATUS ReadPage(std::uint32_t pageNo, std::uint8_t page[kPageSize]);  // ERR_BAD_PAGE, ERR_DB_CORRUPT
  // Up to count pages from first on (as many as the database has) into out,
  // unchecked, in one read; *got: how many. ERR_BAD_PAGE when first is none.
  STATUS ReadPages(std::uint32_t first, std::uint32_t count, std::uint8_t* out, std::uint32_t* got);
  STATUS ReadDbRecord(std::uint8_t out[kDbRecordSize]);
  // One transaction: pages (numbered from 1; a page one past the last one
  // grows the database) and, when given, a new database record.
  STATUS Write(const PageWrite* pages, std::size_t count, const std::uint8_t* dbRecord = nullptr);
  STATUS WriteDbRecord(const std::uint8_t record[kDbRecordSize]) { return Write(nullptr, 0, record); }

  // Backup mode. Between BackupStart and BackupStop every page written to the
  // database, by any process, is recorded; BackupStop fixes the change
  // information as the final image of each such page (and of the header).
  STATUS BackupStart(DWORD* context);
  STATUS BackupStop(DWORD context);
  STATUS ChangeInfoSize(DWORD context, std::uint64_t* size);
  STATUS ReadChangeInfo(DWORD context, void* buffer, DWORD size, DWORD* length);
  STATUS BackupEnd(DWORD context, bool abandon);

  // Keeps the database file open from now on (a roll-forward that writes
  // many pages of this database).
  STATUS HoldFile();

  // The state alone of the database file at hostPath (its lock, backup mode
  // and offline mark), for a file that may be damaged: ERR_FILE_NOT_FOUND
  // when it does not exist.
  static STATUS OpenStateOf(const std::string& hostPath, const DatabaseOptions& options,
                            std::unique_ptr<Database>& out);
  // Offline, for every process of the server: writes are refused
  // (ERR_DB_OFFLINE) and the simulated server closes the database until it
  // is brought online; recovery, change information and digests still reach
  // the file. TakeOffline marks the database offline and removes its file,
  // under the volume's write lock; a backup that holds the database makes
  // it wait, up to waitMs, then fail with ERR_DBINUSE (nothing changed).
  STATUS TakeOffline(std::uint32_t waitMs);
  STATUS BringOnline();
  bool Offline();

  // For maintenance that holds lockFd() itself (recovery, digest).
  int lockFd() const { return state_.get(); }
  char volumeDrive() const { return options_.volumeDrive; }
  STATUS ReadHeaderUnlocked(DbHeader& out);
  STATUS WriteHeaderUnlocked(const DbHeader& header);
  STATUS WritePageImageUnlocked(std::uint32_t pageNo, const std::uint8_t page[kPageSize]);
  // The open database file (keepFileOpen or after HoldFile); -1 otherwise.
  int dataFd() const { return fd_.get(); }

 private:
  struct State;
  // The database file for the length of one operation: opened when the
  // object does not hold it open, closed again at the end of the operation.
  class FileUse {
   public:
    explicit FileUse(Database& db);
    ~FileUse();
    FileUse(const FileUse&) = delete;
    FileUse& operator=(const FileUse&) = delete;
    STATUS status() const { return status_; }

   private:
    Database& db_;
    bool opened_ = false;
    STATUS status_ = 0;
  };
  STATUS OpenDataFile();
  STATUS AttachState();  // the state file of path_, by the key of its canonical path
  STATUS OpenState();
  STATUS CheckOnline();  // under the database's lock: ERR_DB_OFFLINE when offline
  STATUS ReadState(State& state);
  STATUS WriteState(const State& state);
  STATUS NoteWrites(const std::uint32_t* pages, std::size_t count);
  bool HolderAlive();
  STATUS ResetState(State& state);
  STATUS ClearDirty(const State& state);
  void RemoveChanges(State& state);  // KEY.chg, when the state says it may exist
  STATUS BuildChangeInfo(const DbHeader& header, State& state, std::uint64_t* size);
  std::string StatePath(const char* suffix) const;

  std::string path_;
  DatabaseOptions options_;
  UniqueFd fd_;        // the database file (see keepFileOpen)
  // The state file: its flock is the database's lock, a lock on one of its
  // bytes (an open-file-description lock, which a flock does not meet) says
  // that a backup's holder lives, and its first bytes are mapped.
  UniqueFd state_;
  SharedMapping stateMap_;
  UniqueFd dirty_;     // pages written while a backup records (u32 each); opened by the first write
  bool holding_ = false;  // this object holds a backup (and the holder lock)
  bool stopped_ = false;  // ... that BackupStop has fixed
  std::uint64_t changesSize_ = 0;    // bytes of the fixed change information
  std::vector<std::uint8_t> changesInMemory_;  // all of them, when short (else in KEY.chg)
  std::uint64_t changesOffset_ = 0;  // bytes of it ReadChangeInfo has delivered
  DWORD context_ = 0;
  std::string stateKey_;
  std::uint64_t lastHolderCheck_ = 0;
  std::vector<std::uint8_t> buffer_;
};

// The key of a database in the state directory (from its canonical path).
std::string StateKeyFor(const std::string& canonicalPath);

}  // namespace dominosim
