// The Domino API operations that the engine calls, under the names every
// part of the engine uses. Statuses are unsigned 16-bit; 0 is success.
// Calls are made between InitRuntime and TermRuntime on the command thread.
#pragma once

#include <cstdint>

#include "platform/win_types.h"

using DBHANDLE = std::uint32_t;

struct TIMEDATE {
  DWORD Innards[2] = {0, 0};
};

constexpr STATUS NOERROR = 0;
constexpr STATUS ERR_MASK = 0x3FFF;
constexpr STATUS ERR_NO_MORE_LOGS = 0x13DE;         // no more logs to archive
constexpr STATUS ERR_LOGS_MISSING = 0x13E3;         // all log files could not be found
constexpr STATUS ERR_DB_NOT_LOGGED = 0x13F5;        // transaction logging disabled for database
constexpr STATUS ERR_LOGGING_DISABLED = 0x13FF;     // no transaction logging on the server

// Called by RecoverDatabaseList for an archived log missing from the log
// directory: the first log number needed and a path whose drive and
// directory name the folder to place it in. 0 when a log was placed, 0xFFFF
// otherwise.
using ArchivedLogCallbackFn = STATUS (*)(void* unused, DWORD logNumber, const char* path);

class DominoApi {
 public:
  virtual ~DominoApi() = default;

  // argc 0: the default installation; argc 2: argv[1] is "=" + notes.ini path.
  virtual STATUS InitRuntime(int argc, char** argv) = 0;
  virtual void TermRuntime() = 0;

  virtual STATUS OpenDatabase(const char* path, DBHANDLE* handle) = 0;
  virtual STATUS CloseDatabase(DBHANDLE handle) = 0;
  // Fills buffer (zero-terminated, at most size bytes) with the text of the
  // status; returns the text's length.
  virtual WORD GetErrorText(WORD zero, STATUS status, char* buffer, WORD size) = 0;
  virtual STATUS GetDatabaseLogInfo(DBHANDLE handle, DWORD zero, DWORD* logged, BYTE logId[16],
                                    BYTE secondId[16], DWORD* logExtent) = 0;

  virtual STATUS BackupStart(DBHANDLE handle, DWORD zero, DWORD* context, DWORD* value1,
                             DWORD* value2) = 0;
  virtual STATUS BackupStop(DBHANDLE handle, DWORD context) = 0;
  // abandon: 0 done, 1 give the backup up.
  virtual STATUS BackupEnd(DBHANDLE handle, DWORD context, DWORD abandon) = 0;
  virtual STATUS GetChangeInfoSize(DBHANDLE handle, DWORD context, DWORD zero, DWORD* low,
                                   DWORD* high) = 0;
  // At most size bytes into buffer; *length 0 ends the stream.
  virtual STATUS GetChangeInfo(DBHANDLE handle, DWORD context, DWORD zero, void* buffer, DWORD size,
                               DWORD* length) = 0;
  virtual STATUS ApplyChangeInfoStart(DWORD* applyContext, const char* targetPath, DWORD zero,
                                      DWORD low, DWORD high) = 0;
  virtual STATUS ApplyChangeInfo(DWORD applyContext, DWORD zero, const void* buffer,
                                 DWORD length) = 0;
  virtual STATUS ApplyChangeInfoEnd(DWORD applyContext, DWORD zero) = 0;

  virtual STATUS ArchiveBegin() = 0;
  virtual STATUS ArchiveEnd() = 0;
  // path: at least 1024 bytes.
  virtual STATUS GetFirstArchiveLog(BYTE logId[16], DWORD* logNumber, char* path) = 0;
  virtual STATUS GetNextArchiveLog(BYTE logId[16], DWORD* logNumber, char* path) = 0;
  virtual STATUS MarkLogArchived(const BYTE logId[16], DWORD logNumber) = 0;
  virtual STATUS GetLoggingStyle(DWORD* style) = 0;

  virtual STATUS GetServerName(char* buffer256) = 0;
  virtual STATUS AbbreviateName(DWORD zero1, DWORD zero2, const char* name, char* out, WORD size,
                                WORD* length) = 0;
  virtual STATUS TranslatePath(WORD mode, const char* path, WORD length, char* out, WORD size) = 0;
  virtual STATUS TextToTimeDate(void* zero1, void* zero2, const char** text, WORD length,
                                TIMEDATE* out) = 0;

  // packedList: paths each followed by a NUL, the whole followed by one
  // more NUL. *failingPosition: 1-based position of the database that made
  // recovery fail, 0 when none is named. Progress goes to standard output.
  virtual STATUS RecoverDatabaseList(const char* packedList, ArchivedLogCallbackFn callback,
                                     DWORD option, WORD* failingPosition, DWORD timeLimit) = 0;
  virtual STATUS ReadDatabaseRecord(DBHANDLE handle, BYTE record[128]) = 0;
  virtual STATUS WriteDatabaseRecord(DBHANDLE handle, const BYTE record[128]) = 0;
};

// Status of every call while no runtime library is installed in the process.
constexpr STATUS ERR_NO_RUNTIME = 0x0FFE;

// The process's Domino API: the implementation installed with SetDominoApi
// (the program installs the runtime it links; tests install mocks). Until one
// is installed, every call fails with ERR_NO_RUNTIME.
DominoApi& Domino();
void SetDominoApi(DominoApi* api);  // nullptr: none installed
