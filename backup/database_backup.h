// Databases in backup mode and their change information.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "common/records.h"
#include "domino/domino_api.h"

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

// 0 when searched, else the platform's error code; appends to list.
DWORD FindDatabases(const std::string& directory, std::vector<DatabaseEntry>& list);
int StartDatabaseBackups(BackupRequest& request, std::vector<DatabaseEntry>& list,
                         std::vector<std::string>& disabled);
// Ends each database's backup, writing its change information below the
// ledger directory; once all are written, flushes them to the disk. 0, or
// -1 after the message of what failed.
int CaptureChangeInfo(BackupRequest& request, std::vector<DatabaseEntry>& list,
                      const std::string& ledgerDirectory);
int AbortDatabaseBackups(BackupRequest& request, std::vector<DatabaseEntry>& list);
std::string MakeChangeInfoPath(const std::string& ledgerDirectory, const std::string& databasePath);

// Domino's text for a status (masked with 0x3FFF), at most size-1 characters.
std::string DominoErrorText(STATUS status, std::size_t size = 200);

// Gives up every database still in backup when it goes out of scope, so that
// no exit of a run (an exception or a vanished client included) leaves a
// database in backup mode.
class DatabaseBackupGuard {
 public:
  DatabaseBackupGuard(BackupRequest& request, std::vector<DatabaseEntry>& list)
      : request_(request), list_(list) {}
  ~DatabaseBackupGuard();
  DatabaseBackupGuard(const DatabaseBackupGuard&) = delete;
  DatabaseBackupGuard& operator=(const DatabaseBackupGuard&) = delete;

 private:
  BackupRequest& request_;
  std::vector<DatabaseEntry>& list_;
};
