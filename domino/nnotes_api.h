// The Domino API library (nnotes.dll) as it exports its operations: for
// each one the type of its function pointer and the ordinal it is exported
// by. The library is called with the platform's default calling convention
// (the one convention of 64-bit Windows); statuses are unsigned 16-bit,
// database handles and the apply and backup contexts 32-bit unsigned values,
// a time/date 8 bytes, a log identifier 16 bytes, the database record 128
// bytes; text is in the platform's character set, in buffers of the sizes
// given. The archived-log callback of RecoverDatabaseList is called by the
// library with the default convention too. Two operations are not in the
// ordinal table: the library exports them by their documented names.
#pragma once

#include <cstdint>

#include "domino/domino_api.h"

namespace ark::nnotes {

static_assert(sizeof(STATUS) == 2 && sizeof(DBHANDLE) == 4 && sizeof(TIMEDATE) == 8);

// One operation: Fn is its function-pointer type, kOrdinal its ordinal.
template <int Ordinal, typename Function>
struct Operation {
  using Fn = Function*;
  static constexpr int kOrdinal = Ordinal;
};

using InitRuntime = Operation<15, STATUS(int argc, char** argv)>;
using TermRuntime = Operation<13, void()>;
using OpenDatabase = Operation<2005, STATUS(const char* path, DBHANDLE* handle)>;
using CloseDatabase = Operation<2001, STATUS(DBHANDLE handle)>;
using GetErrorText = Operation<707, WORD(WORD zero, STATUS status, char* buffer, WORD size)>;
using GetDatabaseLogInfo = Operation<5875, STATUS(DBHANDLE handle, DWORD zero, DWORD* logged, BYTE logId[16],
                                                   BYTE secondId[16], DWORD* logExtent)>;
using BackupStart = Operation<5734, STATUS(DBHANDLE handle, DWORD zero, DWORD* context, DWORD* value1,
                                           DWORD* value2)>;
using BackupStop = Operation<5735, STATUS(DBHANDLE handle, DWORD context)>;
using BackupEnd = Operation<5736, STATUS(DBHANDLE handle, DWORD context, DWORD abandon)>;
using GetChangeInfoSize = Operation<5878, STATUS(DBHANDLE handle, DWORD context, DWORD zero, DWORD* low,
                                                 DWORD* high)>;
using GetChangeInfo = Operation<5879, STATUS(DBHANDLE handle, DWORD context, DWORD zero, void* buffer,
                                             DWORD size, DWORD* length)>;
using ApplyChangeInfoStart = Operation<5876, STATUS(DWORD* applyContext, const char* targetPath, DWORD zero,
                                                    DWORD low, DWORD high)>;
using ApplyChangeInfo = Operation<5880, STATUS(DWORD applyContext, DWORD zero, const void* buffer,
                                               DWORD length)>;
using ApplyChangeInfoEnd = Operation<5877, STATUS(DWORD applyContext, DWORD zero)>;
using ArchiveBegin = Operation<5925, STATUS()>;
using ArchiveEnd = Operation<5926, STATUS()>;
// path: 1024 bytes.
using GetFirstArchiveLog = Operation<5823, STATUS(BYTE logId[16], DWORD* logNumber, char* path)>;
using GetNextArchiveLog = Operation<5803, STATUS(BYTE logId[16], DWORD* logNumber, char* path)>;
using MarkLogArchived = Operation<5804, STATUS(const BYTE logId[16], DWORD logNumber)>;
using GetLoggingStyle = Operation<5927, STATUS(DWORD* style)>;
// buffer: 256 bytes.
using GetServerName = Operation<1562, STATUS(char* buffer)>;
using AbbreviateName = Operation<628, STATUS(DWORD zero1, DWORD zero2, const char* name, char* out, WORD size,
                                             WORD* length)>;
using TranslatePath = Operation<391, STATUS(WORD mode, const char* path, WORD length, char* out, WORD size)>;
using TextToTimeDate = Operation<223, STATUS(void* zero1, void* zero2, const char** text, WORD length,
                                             TIMEDATE* out)>;
using RecoverDatabaseList = Operation<5794, STATUS(const char* packedList, ArchivedLogCallbackFn callback,
                                                   DWORD options, WORD* failingPosition, TIMEDATE* recoveryTime)>;
using ReadDatabaseRecord = Operation<2086, STATUS(DBHANDLE handle, BYTE record[128])>;
using WriteDatabaseRecord = Operation<2087, STATUS(DBHANDLE handle, const BYTE record[128])>;

// One operation exported by name: Fn is its function-pointer type, kName
// the name in the Domino C API reference.
template <typename Function>
struct NamedOperation {
  using Fn = Function*;
};

struct TakeDatabaseOffline : NamedOperation<STATUS(const char* path, DWORD waitMilliseconds, DWORD options)> {
  static constexpr const char* kName = "NSFTakeDatabaseOffline";
};
struct BringDatabaseOnline : NamedOperation<STATUS(const char* path, DWORD options)> {
  static constexpr const char* kName = "NSFBringDatabaseOnline";
};
struct GetModifiedNoteTable
    : NamedOperation<STATUS(DBHANDLE handle, WORD noteClassMask, TIMEDATE since, TIMEDATE* until, DHANDLE* table)> {
  static constexpr const char* kName = "NSFDbGetModifiedNoteTable";
};
struct ScanIdTable : NamedOperation<int(DHANDLE table, int first, DWORD* id)> {
  static constexpr const char* kName = "IDScan";
};
struct DestroyIdTable : NamedOperation<STATUS(DHANDLE table)> {
  static constexpr const char* kName = "IDDestroyTable";
};
struct OpenNote : NamedOperation<STATUS(DBHANDLE handle, NOTEID id, WORD options, NOTEHANDLE* note)> {
  static constexpr const char* kName = "NSFNoteOpen";
};
struct CloseNote : NamedOperation<STATUS(NOTEHANDLE note)> {
  static constexpr const char* kName = "NSFNoteClose";
};

}  // namespace ark::nnotes
