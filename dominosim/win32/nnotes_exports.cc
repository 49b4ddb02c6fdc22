// The simulated runtime as the Domino API library: one C function per
// operation, exported by ordinal or, for the two operations outside the
// ordinal table, by the documented name (nnotes.def), each passing its call
// to the process's simulated runtime.
#include "dominosim/sim_api.h"

extern "C" {

STATUS nnotes_InitRuntime(int argc, char** argv) {
  return dominosim::Api().InitRuntime(argc, argv);
}

void nnotes_TermRuntime() { dominosim::Api().TermRuntime(); }

STATUS nnotes_OpenDatabase(const char* path, DBHANDLE* handle) {
  return dominosim::Api().OpenDatabase(path, handle);
}

STATUS nnotes_CloseDatabase(DBHANDLE handle) {
  return dominosim::Api().CloseDatabase(handle);
}

WORD nnotes_GetErrorText(WORD zero, STATUS status, char* buffer, WORD size) {
  return dominosim::Api().GetErrorText(zero, status, buffer, size);
}

STATUS nnotes_GetDatabaseLogInfo(DBHANDLE handle, DWORD zero, DWORD* logged, BYTE logId[16], BYTE secondId[16], DWORD* logExtent) {
  return dominosim::Api().GetDatabaseLogInfo(handle, zero, logged, logId, secondId, logExtent);
}

STATUS nnotes_BackupStart(DBHANDLE handle, DWORD zero, DWORD* context, DWORD* value1, DWORD* value2) {
  return dominosim::Api().BackupStart(handle, zero, context, value1, value2);
}

STATUS nnotes_BackupStop(DBHANDLE handle, DWORD context) {
  return dominosim::Api().BackupStop(handle, context);
}

STATUS nnotes_BackupEnd(DBHANDLE handle, DWORD context, DWORD abandon) {
  return dominosim::Api().BackupEnd(handle, context, abandon);
}

STATUS nnotes_GetChangeInfoSize(DBHANDLE handle, DWORD context, DWORD zero, DWORD* low, DWORD* high) {
  return dominosim::Api().GetChangeInfoSize(handle, context, zero, low, high);
}

STATUS nnotes_GetChangeInfo(DBHANDLE handle, DWORD context, DWORD zero, void* buffer, DWORD size, DWORD* length) {
  return dominosim::Api().GetChangeInfo(handle, context, zero, buffer, size, length);
}

STATUS nnotes_ApplyChangeInfoStart(DWORD* applyContext, const char* targetPath, DWORD zero, DWORD low, DWORD high) {
  return dominosim::Api().ApplyChangeInfoStart(applyContext, targetPath, zero, low, high);
}

STATUS nnotes_ApplyChangeInfo(DWORD applyContext, DWORD zero, const void* buffer, DWORD length) {
  return dominosim::Api().ApplyChangeInfo(applyContext, zero, buffer, length);
}

STATUS nnotes_ApplyChangeInfoEnd(DWORD applyContext, DWORD zero) {
  return dominosim::Api().ApplyChangeInfoEnd(applyContext, zero);
}

STATUS nnotes_ArchiveBegin() {
  return dominosim::Api().ArchiveBegin();
}

STATUS nnotes_ArchiveEnd() {
  return dominosim::Api().ArchiveEnd();
}

STATUS nnotes_GetFirstArchiveLog(BYTE logId[16], DWORD* logNumber, char* path) {
  return dominosim::Api().GetFirstArchiveLog(logId, logNumber, path);
}

STATUS nnotes_GetNextArchiveLog(BYTE logId[16], DWORD* logNumber, char* path) {
  return dominosim::Api().GetNextArchiveLog(logId, logNumber, path);
}

STATUS nnotes_MarkLogArchived(const BYTE logId[16], DWORD logNumber) {
  return dominosim::Api().MarkLogArchived(logId, logNumber);
}

STATUS nnotes_GetLoggingStyle(DWORD* style) {
  return dominosim::Api().GetLoggingStyle(style);
}

STATUS nnotes_GetServerName(char* buffer256) {
  return dominosim::Api().GetServerName(buffer256);
}

STATUS nnotes_AbbreviateName(DWORD zero1, DWORD zero2, const char* name, char* out, WORD size, WORD* length) {
  return dominosim::Api().AbbreviateName(zero1, zero2, name, out, size, length);
}

STATUS nnotes_TranslatePath(WORD mode, const char* path, WORD length, char* out, WORD size) {
  return dominosim::Api().TranslatePath(mode, path, length, out, size);
}

STATUS nnotes_TextToTimeDate(void* zero1, void* zero2, const char** text, WORD length, TIMEDATE* out) {
  return dominosim::Api().TextToTimeDate(zero1, zero2, text, length, out);
}

STATUS nnotes_RecoverDatabaseList(const char* packedList, ArchivedLogCallbackFn callback, DWORD options, WORD* failingPosition, TIMEDATE* recoveryTime) {
  return dominosim::Api().RecoverDatabaseList(packedList, callback, options, failingPosition, recoveryTime);
}

STATUS nnotes_ReadDatabaseRecord(DBHANDLE handle, BYTE record[128]) {
  return dominosim::Api().ReadDatabaseRecord(handle, record);
}

STATUS nnotes_WriteDatabaseRecord(DBHANDLE handle, const BYTE record[128]) {
  return dominosim::Api().WriteDatabaseRecord(handle, record);
}

// Exported by name (nnotes.def), as the Domino API library does.
STATUS nnotes_TakeDatabaseOffline(const char* path, DWORD waitMilliseconds, DWORD options) {
  return dominosim::Api().TakeDatabaseOffline(path, waitMilliseconds, options);
}

STATUS nnotes_BringDatabaseOnline(const char* path, DWORD options) {
  return dominosim::Api().BringDatabaseOnline(path, options);
}

STATUS nnotes_GetModifiedNoteTable(DBHANDLE handle, WORD noteClassMask, TIMEDATE since, TIMEDATE* until,
                                   DHANDLE* table) {
  return dominosim::Api().GetModifiedNoteTable(handle, noteClassMask, since, until, table);
}

int nnotes_ScanIdTable(DHANDLE table, int first, DWORD* id) { return dominosim::Api().ScanIdTable(table, first, id); }

STATUS nnotes_DestroyIdTable(DHANDLE table) { return dominosim::Api().DestroyIdTable(table); }

STATUS nnotes_OpenNote(DBHANDLE handle, NOTEID id, WORD options, NOTEHANDLE* note) {
  return dominosim::Api().OpenNote(handle, id, options, note);
}

STATUS nnotes_CloseNote(NOTEHANDLE note) { return dominosim::Api().CloseNote(note); }

}  // extern "C"
