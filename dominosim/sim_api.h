// The DominoApi of the simulated runtime: Windows paths in, host paths to
// the engine through the drive map, settings from notes.ini and the
// registry. The service installs it with SetDominoApi(&dominosim::Api()).
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "domino/domino_api.h"
#include "dominosim/change_stream.h"
#include "dominosim/database.h"
#include "dominosim/server_config.h"
#include "dominosim/txn_log.h"

namespace dominosim {

class SimApi final : public DominoApi {
 public:
  STATUS InitRuntime(int argc, char** argv) override;
  void TermRuntime() override;

  STATUS OpenDatabase(const char* path, DBHANDLE* handle) override;
  STATUS CloseDatabase(DBHANDLE handle) override;
  WORD GetErrorText(WORD zero, STATUS status, char* buffer, WORD size) override;
  STATUS GetDatabaseLogInfo(DBHANDLE handle, DWORD zero, DWORD* logged, BYTE logId[16],
                            BYTE secondId[16], DWORD* logExtent) override;

  STATUS BackupStart(DBHANDLE handle, DWORD zero, DWORD* context, DWORD* value1,
                     DWORD* value2) override;
  STATUS BackupStop(DBHANDLE handle, DWORD context) override;
  STATUS BackupEnd(DBHANDLE handle, DWORD context, DWORD abandon) override;
  STATUS GetChangeInfoSize(DBHANDLE handle, DWORD context, DWORD zero, DWORD* low,
                           DWORD* high) override;
  STATUS GetChangeInfo(DBHANDLE handle, DWORD context, DWORD zero, void* buffer, DWORD size,
                       DWORD* length) override;
  STATUS ApplyChangeInfoStart(DWORD* applyContext, const char* targetPath, DWORD zero, DWORD low,
                              DWORD high) override;
  STATUS ApplyChangeInfo(DWORD applyContext, DWORD zero, const void* buffer, DWORD length) override;
  STATUS ApplyChangeInfoEnd(DWORD applyContext, DWORD zero) override;

  STATUS ArchiveBegin() override;
  STATUS ArchiveEnd() override;
  STATUS GetFirstArchiveLog(BYTE logId[16], DWORD* logNumber, char* path) override;
  STATUS GetNextArchiveLog(BYTE logId[16], DWORD* logNumber, char* path) override;
  STATUS MarkLogArchived(const BYTE logId[16], DWORD logNumber) override;
  STATUS GetLoggingStyle(DWORD* style) override;

  STATUS GetServerName(char* buffer256) override;
  STATUS AbbreviateName(DWORD zero1, DWORD zero2, const char* name, char* out, WORD size,
                        WORD* length) override;
  STATUS TranslatePath(WORD mode, const char* path, WORD length, char* out, WORD size) override;
  STATUS TextToTimeDate(void* zero1, void* zero2, const char** text, WORD length,
                        TIMEDATE* out) override;

  STATUS RecoverDatabaseList(const char* packedList, ArchivedLogCallbackFn callback, DWORD options,
                             WORD* failingPosition, TIMEDATE* recoveryTime) override;
  STATUS ReadDatabaseRecord(DBHANDLE handle, BYTE record[128]) override;
  STATUS WriteDatabaseRecord(DBHANDLE handle, const BYTE record[128]) override;
  STATUS TakeDatabaseOffline(const char* path, DWORD waitMilliseconds, DWORD options) override;
  STATUS BringDatabaseOnline(const char* path, DWORD options) override;

  // A note is a data page: note id 4 * page number.
  STATUS GetModifiedNoteTable(DBHANDLE handle, WORD noteClassMask, TIMEDATE since, TIMEDATE* until,
                              DHANDLE* table) override;
  int ScanIdTable(DHANDLE table, int first, DWORD* id) override;
  STATUS DestroyIdTable(DHANDLE table) override;
  // Reads the note's page and checks its checksum and number: a damaged
  // one fails with ERR_PAGE_DAMAGED, whose text then names the page.
  STATUS OpenNote(DBHANDLE handle, NOTEID id, WORD options, NOTEHANDLE* note) override;
  STATUS CloseNote(NOTEHANDLE note) override;

  // The configuration loaded by InitRuntime (for the tools).
  const ServerConfig& config() const { return config_; }

 private:
  void CloseAll();
  Database* Find(DBHANDLE handle);
  // The server's log, opened on first use; nullptr with ERR_LOGGING_DISABLED
  // when the server does not log.
  STATUS Log(TxnLog** out);
  STATUS ArchiveStep(std::uint32_t from, BYTE logId[16], DWORD* logNumber, char* path);
  // The state of the database at a Windows path, for taking it offline or online.
  // The host path of a database and the options every open of it shares.
  STATUS Locate(const char* path, std::string& host, DatabaseOptions& options);
  STATUS OpenState(const char* path, std::unique_ptr<Database>& out);

  std::recursive_mutex mutex_;
  bool initialized_ = false;
  ServerConfig config_;
  std::unique_ptr<TxnLog> log_;
  std::map<DBHANDLE, std::unique_ptr<Database>> databases_;
  DBHANDLE nextHandle_ = 1;
  std::map<DWORD, std::unique_ptr<ChangeApplier>> appliers_;
  DWORD nextApply_ = 1;
  std::uint32_t archiveCursor_ = 0;
  std::map<DHANDLE, std::vector<DWORD>> idTables_;
  std::map<NOTEHANDLE, DBHANDLE> notes_;
  DWORD nextMemory_ = 1;               // ID tables and notes
  std::uint32_t lastDamagedPage_ = 0;  // named by the text of ERR_PAGE_DAMAGED
  // Pages read ahead for OpenNote: notes are opened in page order, so one
  // read serves many (each page is still checked when its note opens).
  struct ReadAhead {
    DBHANDLE handle = 0;
    std::uint32_t first = 0, count = 0;
    std::vector<std::uint8_t> pages;
  } readAhead_;
};

// The process's simulated runtime.
SimApi& Api();

}  // namespace dominosim
