// A GoogleMock Domino API for engine tests, installed for the lifetime of
// the object; IdleDominoApi adds the defaults of an idle runtime.
#pragma once

#include <gmock/gmock.h>

#include <array>
#include <cstdio>
#include <cstring>

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
              (const char* packedList, ArchivedLogCallbackFn callback, DWORD options,
               WORD* failingPosition, TIMEDATE* recoveryTime),
              (override));
  MOCK_METHOD(STATUS, ReadDatabaseRecord, (DBHANDLE handle, BYTE record[128]), (override));
  MOCK_METHOD(STATUS, WriteDatabaseRecord, (DBHANDLE handle, const BYTE record[128]), (override));
  MOCK_METHOD(STATUS, TakeDatabaseOffline, (const char* path, DWORD waitMilliseconds, DWORD options),
              (override));
  MOCK_METHOD(STATUS, BringDatabaseOnline, (const char* path, DWORD options), (override));
  MOCK_METHOD(STATUS, GetModifiedNoteTable, (DBHANDLE, WORD, TIMEDATE, TIMEDATE*, DHANDLE*), (override));
  MOCK_METHOD(int, ScanIdTable, (DHANDLE, int, DWORD*), (override));
  MOCK_METHOD(STATUS, DestroyIdTable, (DHANDLE), (override));
  MOCK_METHOD(STATUS, OpenNote, (DBHANDLE, NOTEID, WORD, NOTEHANDLE*), (override));
  MOCK_METHOD(STATUS, CloseNote, (NOTEHANDLE), (override));
};

// Log identifier words 1, 2, 4 and 8: log series "0000000f".
inline constexpr std::array<BYTE, 16> kLogId{1, 0, 0, 0, 2, 0, 0, 0, 4, 0, 0, 0, 8, 0, 0, 0};
inline constexpr const char* kLogSeries = "0000000f";

// The mock answering like an idle runtime (use it as NiceMock<IdleDominoApi>):
// start-up works, every status has a text ("Domino status 0x0123"), and
// the archive walk finds no log, at the position currentLog / currentLogId.
class IdleDominoApi : public MockDominoApi {
 public:
  IdleDominoApi() {
    using ::testing::_;
    ON_CALL(*this, InitRuntime(_, _)).WillByDefault(::testing::Return(0));
    ON_CALL(*this, GetErrorText(_, _, _, _)).WillByDefault([](WORD, STATUS status, char* buffer, WORD size) {
      const int n = std::snprintf(buffer, size, "Domino status 0x%04X", unsigned(status));
      return WORD(n < 0 ? 0 : n);
    });
    auto position = [this](BYTE logId[16], DWORD* number, char* path) -> STATUS {
      std::memcpy(logId, currentLogId.data(), 16);
      *number = currentLog;
      path[0] = '\0';
      return positionStatus;
    };
    ON_CALL(*this, GetFirstArchiveLog(_, _, _)).WillByDefault(position);
    ON_CALL(*this, GetNextArchiveLog(_, _, _)).WillByDefault(position);
  }
  DWORD currentLog = 1;
  STATUS positionStatus = ERR_NO_MORE_LOGS;  // what the archive walk ends with
  std::array<BYTE, 16> currentLogId = kLogId;
};
