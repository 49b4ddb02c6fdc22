// The DominoApi of a Windows host: the Domino server's own nnotes.dll,
// loaded at the first runtime start by its full path in the Domino program
// directory (the registry value "Path" under SOFTWARE\Lotus\Domino\5.0, else
// under SOFTWARE\Lotus\Domino), never through the search path, each
// operation resolved by its ordinal, TakeDatabaseOffline and
// BringDatabaseOnline by their documented names. A library that cannot be
// loaded, or that lacks an ordinal or a name, fails the runtime start
// (ERR_NO_RUNTIME) with a message naming the file, the ordinal or the name,
// in the debug trace and as the text of that status; the next runtime start
// tries again.
#pragma once

#include <memory>
#include <string>

#include "domino/domino_api.h"
#include "domino/nnotes_api.h"
#include "platform/library.h"

namespace ark {

class NnotesApi final : public DominoApi {
 public:
  NnotesApi();
  ~NnotesApi() override;

  // Where the library is looked for; empty: the registry's program directory.
  void SetLibraryPathForTest(const std::string& fullPath) { pathForTest_ = fullPath; }
  // The message of the last failed load; empty after a successful one.
  const std::string& failure() const { return failure_; }

  STATUS InitRuntime(int argc, char** argv) override;
  void TermRuntime() override;
  STATUS OpenDatabase(const char* path, DBHANDLE* handle) override;
  STATUS CloseDatabase(DBHANDLE handle) override;
  WORD GetErrorText(WORD zero, STATUS status, char* buffer, WORD size) override;
  STATUS GetDatabaseLogInfo(DBHANDLE handle, DWORD zero, DWORD* logged, BYTE logId[16], BYTE secondId[16],
                            DWORD* logExtent) override;
  STATUS BackupStart(DBHANDLE handle, DWORD zero, DWORD* context, DWORD* value1, DWORD* value2) override;
  STATUS BackupStop(DBHANDLE handle, DWORD context) override;
  STATUS BackupEnd(DBHANDLE handle, DWORD context, DWORD abandon) override;
  STATUS GetChangeInfoSize(DBHANDLE handle, DWORD context, DWORD zero, DWORD* low, DWORD* high) override;
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
  STATUS AbbreviateName(DWORD zero1, DWORD zero2, const char* name, char* out, WORD size, WORD* length) override;
  STATUS TranslatePath(WORD mode, const char* path, WORD length, char* out, WORD size) override;
  STATUS TextToTimeDate(void* zero1, void* zero2, const char** text, WORD length, TIMEDATE* out) override;
  STATUS RecoverDatabaseList(const char* packedList, ArchivedLogCallbackFn callback, DWORD options,
                             WORD* failingPosition, TIMEDATE* recoveryTime) override;
  STATUS ReadDatabaseRecord(DBHANDLE handle, BYTE record[128]) override;
  STATUS WriteDatabaseRecord(DBHANDLE handle, const BYTE record[128]) override;
  STATUS TakeDatabaseOffline(const char* path, DWORD waitMilliseconds, DWORD options) override;
  STATUS BringDatabaseOnline(const char* path, DWORD options) override;
  STATUS GetModifiedNoteTable(DBHANDLE handle, WORD noteClassMask, TIMEDATE since, TIMEDATE* until,
                              DHANDLE* table) override;
  int ScanIdTable(DHANDLE table, int first, DWORD* id) override;
  STATUS DestroyIdTable(DHANDLE table) override;
  STATUS OpenNote(DBHANDLE handle, NOTEID id, WORD options, NOTEHANDLE* note) override;
  STATUS CloseNote(NOTEHANDLE note) override;

 private:
  struct Functions;
  // Loads and binds the library once; false (with failure_ set) when it cannot.
  bool Bind();

  std::string pathForTest_;
  std::string failure_;
  std::unique_ptr<platform::Library> library_;
  std::unique_ptr<Functions> fn_;
};

// The file name of the library in the program directory.
inline constexpr const char* kNnotesFileName = "nnotes.dll";

}  // namespace ark
