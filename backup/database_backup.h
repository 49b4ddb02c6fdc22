// Databases in backup mode and their change information.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "common/records.h"
#include "domino/domino_api.h"
#include "platform/files.h"

namespace ark {

struct DatabaseEntry {
  std::string path;
  DBHANDLE handle = 0;
  DWORD backupContext = 0;
  DWORD startValue1 = 0;
  DWORD startValue2 = 0;
  DWORD logged = 0;
  std::array<BYTE, 16> logId{};
  std::array<BYTE, 16> secondId{};
  DWORD logExtent = 0;
  DWORD inBackup = 0;
  STATUS lastStatus = 0;
  DWORD changeInfoSizeHigh = 0;
  DWORD changeInfoSizeLow = 0;
  DWORD chunkLength = 0;
};

// Appends an entry (path only) for every database file (".nsf", ".ntf",
// ".box", any letter case) below directory, a subdirectory's where it is met;
// a subdirectory that cannot be listed is passed over. ERROR_SUCCESS, or the
// platform's code when directory itself cannot be listed (nothing appended).
DWORD FindDatabases(const std::string& directory, std::vector<DatabaseEntry>& list);
// Opens each database of list in order, reads its log information into the
// entry and starts its backup (inBackup 1, handle and backup context set).
// Warns through request.output of each database without transaction logging
// and appends the first 19 of their paths to disabled. 0 when every database
// is in backup mode; -1 at the first failure, after its message through
// request.output: the failing entry is closed and not in backup, those
// before it stay in backup for the caller to give up (AbortDatabaseBackups or
// a DatabaseBackupGuard).
int StartDatabaseBackups(BackupRequest& request, std::vector<DatabaseEntry>& list,
                         std::vector<std::string>& disabled);
// Ends each database's backup, writing its change information below the
// ledger directory; each file written and its folders go into `written`,
// for FlushBackupFiles once no database is in backup mode any more (the
// flushes do not lengthen the window). 0, or -1 after the message of what
// failed.
int CaptureChangeInfo(BackupRequest& request, std::vector<DatabaseEntry>& list,
                      const std::string& ledgerDirectory, platform::FlushBatch& written);
// Makes the files a backup wrote durable. 0, or -1 after the message naming
// the file or folder that could not be flushed: a flush that fails is a
// failed write.
int FlushBackupFiles(BackupRequest& request, platform::FlushBatch& written);
// Gives up the backup of every entry still in backup: BackupStop, BackupEnd
// abandoning it, CloseDatabase, statuses not looked at; inBackup is cleared
// first, so no entry is given up twice. Writes nothing; always 0.
int AbortDatabaseBackups(std::vector<DatabaseEntry>& list);

// Domino's text for a status (masked with 0x3FFF), at most size-1 characters.
std::string DominoErrorText(STATUS status, std::size_t size = 200);

// Gives up every database still in backup when it goes out of scope, so that
// no exit of a run (an exception or a vanished client included) leaves a
// database in backup mode.
class DatabaseBackupGuard {
 public:
  explicit DatabaseBackupGuard(std::vector<DatabaseEntry>& list) : list_(list) {}
  ~DatabaseBackupGuard();
  DatabaseBackupGuard(const DatabaseBackupGuard&) = delete;
  DatabaseBackupGuard& operator=(const DatabaseBackupGuard&) = delete;

 private:
  std::vector<DatabaseEntry>& list_;
};

}  // namespace ark
