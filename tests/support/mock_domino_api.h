// A GoogleMock Domino API for engine tests, installed for the lifetime of
// the object.
#pragma once

#include <gmock/gmock.h>

#include "domino/domino_api.h"

class MockDominoApi : public DominoApi {
 public:
  MockDominoApi() { SetDominoApi(this); }
  ~MockDominoApi() override { SetDominoApi(nullptr); }

  MOCK_METHOD(STATUS, InitRuntime, (int argc, char** argv), (override));
  MOCK_METHOD(void, TermRuntime, (), (override));
  MOCK_METHOD(STATUS, OpenDatabase, (const char* path, DBHANDLE* handle), (override));
  MOCK_METHOD(STATUS, CloseDatabase, (DBHANDLE handle), (override));
  MOCK_METHOD(WORD, GetErrorText, (WORD zero, STATUS status, char* buffer, WORD size), (override));
  MOCK_METHOD(STATUS, GetDatabaseLogInfo,
              (DBHANDLE handle, DWORD zero, DWORD* logged, BYTE logId[16], BYTE secondId[16],
               DWORD* logExtent),
              (override));
  MOCK_METHOD(STATUS, BackupStart,
              (DBHANDLE handle, DWORD zero, DWORD* context, DWORD* value1, DWORD* value2),
              (override));
  MOCK_METHOD(STATUS, BackupStop, (DBHANDLE handle, DWORD context), (override));
  MOCK_METHOD(STATUS, BackupEnd, (DBHANDLE handle, DWORD context, DWORD abandon), (override));
  MOCK_METHOD(STATUS, GetChangeInfoSize,
              (DBHANDLE handle, DWORD context, DWORD zero, DWORD* low, DWORD* high), (override));
  MOCK_METHOD(STATUS, GetChangeInfo,
              (DBHANDLE handle, DWORD context, DWORD zero, void* buffer, DWORD size, DWORD* length),
              (override));
  MOCK_METHOD(STATUS, ApplyChangeInfoStart,
              (DWORD* applyContext, const char* targetPath, DWORD zero, DWORD low, DWORD high),
              (override));
  MOCK_METHOD(STATUS, ApplyChangeInfo,
              (DWORD applyContext, DWORD zero, const void* buffer, DWORD length), (override));
  MOCK_METHOD(STATUS, ApplyChangeInfoEnd, (DWORD applyContext, DWORD zero), (override));
  MOCK_METHOD(STATUS, ArchiveBegin, (), (override));
  MOCK_METHOD(STATUS, ArchiveEnd, (), (override));
  MOCK_METHOD(STATUS, GetFirstArchiveLog, (BYTE logId[16], DWORD* logNumber, char* path),
              (override));
  MOCK_METHOD(STATUS, GetNextArchiveLog, (BYTE logId[16], DWORD* logNumber, char* path),
              (override));
  MOCK_METHOD(STATUS, MarkLogArchived, (const BYTE logId[16], DWORD logNumber), (override));
  MOCK_METHOD(STATUS, GetLoggingStyle, (DWORD* style), (override));
  MOCK_METHOD(STATUS, GetServerName, (char* buffer256), (override));
  MOCK_METHOD(STATUS, AbbreviateName,
              (DWORD zero1, DWORD zero2, const char* name, char* out, WORD size, WORD* length),
              (override));
  MOCK_METHOD(STATUS, TranslatePath,
              (WORD mode, const char* path, WORD length, char* out, WORD size), (override));
  MOCK_METHOD(STATUS, TextToTimeDate,
              (void* zero1, void* zero2, const char** text, WORD length, TIMEDATE* out),
              (override));
  MOCK_METHOD(STATUS, RecoverDatabaseList,
              (const char* packedList, ArchivedLogCallbackFn callback, DWORD option,
               WORD* failingPosition, DWORD timeLimit),
              (override));
  MOCK_METHOD(STATUS, ReadDatabaseRecord, (DBHANDLE handle, BYTE record[128]), (override));
  MOCK_METHOD(STATUS, WriteDatabaseRecord, (DBHANDLE handle, const BYTE record[128]), (override));
};
