// The Domino API of a process without a runtime library: every operation
// fails with ERR_NO_RUNTIME (GetErrorText gives kNoRuntimeText) and fills
// its outputs as a failed call leaves them. Domino() answers with it while
// none is installed; a program that needs a few operations of its own (a
// benchmark's runtime, say) derives from it and overrides only those.
#pragma once

#include <cstring>

#include "domino/domino_api.h"

inline constexpr const char* kNoRuntimeText = "Domino runtime not installed";

class NoRuntimeApi : public DominoApi {
 public:
  STATUS InitRuntime(int, char**) override { return ERR_NO_RUNTIME; }
  void TermRuntime() override {}
  STATUS OpenDatabase(const char*, DBHANDLE*) override { return ERR_NO_RUNTIME; }
  STATUS CloseDatabase(DBHANDLE) override { return ERR_NO_RUNTIME; }
  WORD GetErrorText(WORD, STATUS, char* buffer, WORD size) override {
    if (buffer == nullptr || size == 0) return 0;
    std::size_t n = std::strlen(kNoRuntimeText);
    if (n > std::size_t(size) - 1) n = std::size_t(size) - 1;
    std::memcpy(buffer, kNoRuntimeText, n);
    buffer[n] = '\0';
    return WORD(n);
  }
  STATUS GetDatabaseLogInfo(DBHANDLE, DWORD, DWORD*, BYTE[16], BYTE[16], DWORD*) override {
    return ERR_NO_RUNTIME;
  }
  STATUS BackupStart(DBHANDLE, DWORD, DWORD*, DWORD*, DWORD*) override { return ERR_NO_RUNTIME; }
  STATUS BackupStop(DBHANDLE, DWORD) override { return ERR_NO_RUNTIME; }
  STATUS BackupEnd(DBHANDLE, DWORD, DWORD) override { return ERR_NO_RUNTIME; }
  STATUS GetChangeInfoSize(DBHANDLE, DWORD, DWORD, DWORD*, DWORD*) override {
    return ERR_NO_RUNTIME;
  }
  STATUS GetChangeInfo(DBHANDLE, DWORD, DWORD, void*, DWORD, DWORD* length) override {
    if (length != nullptr) *length = 0;
    return ERR_NO_RUNTIME;
  }
  STATUS ApplyChangeInfoStart(DWORD*, const char*, DWORD, DWORD, DWORD) override {
    return ERR_NO_RUNTIME;
  }
  STATUS ApplyChangeInfo(DWORD, DWORD, const void*, DWORD) override { return ERR_NO_RUNTIME; }
  STATUS ApplyChangeInfoEnd(DWORD, DWORD) override { return ERR_NO_RUNTIME; }
  STATUS ArchiveBegin() override { return ERR_NO_RUNTIME; }
  STATUS ArchiveEnd() override { return ERR_NO_RUNTIME; }
  STATUS GetFirstArchiveLog(BYTE[16], DWORD*, char*) override { return ERR_NO_RUNTIME; }
  STATUS GetNextArchiveLog(BYTE[16], DWORD*, char*) override { return ERR_NO_RUNTIME; }
  STATUS MarkLogArchived(const BYTE[16], DWORD) override { return ERR_NO_RUNTIME; }
  STATUS GetLoggingStyle(DWORD*) override { return ERR_NO_RUNTIME; }
  STATUS GetServerName(char* buffer256) override {
    if (buffer256 != nullptr) buffer256[0] = '\0';
    return ERR_NO_RUNTIME;
  }
  STATUS AbbreviateName(DWORD, DWORD, const char*, char* out, WORD size, WORD* length) override {
    if (out != nullptr && size > 0) out[0] = '\0';
    if (length != nullptr) *length = 0;
    return ERR_NO_RUNTIME;
  }
  STATUS TranslatePath(WORD, const char*, WORD, char* out, WORD size) override {
    if (out != nullptr && size > 0) out[0] = '\0';
    return ERR_NO_RUNTIME;
  }
  STATUS TextToTimeDate(void*, void*, const char**, WORD, TIMEDATE*) override {
    return ERR_NO_RUNTIME;
  }
  STATUS RecoverDatabaseList(const char*, ArchivedLogCallbackFn, DWORD, WORD* failingPosition,
                             TIMEDATE*) override {
    if (failingPosition != nullptr) *failingPosition = 0;
    return ERR_NO_RUNTIME;
  }
  STATUS TakeDatabaseOffline(const char*, DWORD, DWORD) override { return ERR_NO_RUNTIME; }
  STATUS BringDatabaseOnline(const char*, DWORD) override { return ERR_NO_RUNTIME; }
  STATUS GetModifiedNoteTable(DBHANDLE, WORD, TIMEDATE, TIMEDATE*, DHANDLE*) override { return ERR_NO_RUNTIME; }
  int ScanIdTable(DHANDLE, int, DWORD*) override { return 0; }
  STATUS DestroyIdTable(DHANDLE) override { return ERR_NO_RUNTIME; }
  STATUS OpenNote(DBHANDLE, NOTEID, WORD, NOTEHANDLE*) override { return ERR_NO_RUNTIME; }
  STATUS CloseNote(NOTEHANDLE) override { return ERR_NO_RUNTIME; }
  STATUS ReadDatabaseRecord(DBHANDLE, BYTE[128]) override { return ERR_NO_RUNTIME; }
  STATUS WriteDatabaseRecord(DBHANDLE, const BYTE[128]) override { return ERR_NO_RUNTIME; }
};
