// The Domino API operations that the engine calls, under the names every
// part of the engine uses.
//
// Statuses are unsigned 16-bit; 0 (NOERROR) is success. A failure is any
// other value: the statuses named below are the ones the engine tells apart,
// every other one is a failure of the runtime whose text GetErrorText gives
// (mask it with ERR_MASK first). While no runtime library is installed,
// every call fails with ERR_NO_RUNTIME.
//
// Calls are made between InitRuntime and TermRuntime, on the thread of the
// running command. Text is in the runtime's character set and buffers are
// owned by the caller: the runtime never keeps a pointer it was given after
// the call returns (the archived-log callback is called only during
// RecoverDatabaseList). Paths are full Windows paths
// ("D:\Domino\Data\mail\jo.nsf").
#pragma once

#include <cstdint>

#include "platform/win_types.h"

using DBHANDLE = std::uint32_t;
// A handle of the runtime's memory (an ID table) and of an open note.
using DHANDLE = std::uint32_t;
using NOTEHANDLE = std::uint32_t;
using NOTEID = DWORD;

// A moment as the runtime holds it. The engine treats it as opaque: it
// makes one with TextToTimeDate and hands it back to the runtime.
struct TIMEDATE {
  DWORD Innards[2] = {0, 0};
};

constexpr STATUS NOERROR = 0;
constexpr STATUS ERR_MASK = 0x3FFF;
constexpr STATUS ERR_NO_MORE_LOGS = 0x13DE;         // no more logs to archive
constexpr STATUS ERR_LOGS_MISSING = 0x13E3;         // all log files could not be found
constexpr STATUS ERR_DB_NOT_LOGGED = 0x13F5;        // transaction logging disabled for database
constexpr STATUS ERR_LOGGING_DISABLED = 0x13FF;     // no transaction logging on the server

// Reading every note of a database (the C API's NOTE_CLASS_ALL and the bit
// NSFDbGetModifiedNoteTable sets in the id of a deleted note).
constexpr WORD NOTE_CLASS_ALL = 0x7FFF;
constexpr DWORD RRV_DELETED = 0x80000000;

// Options of RecoverDatabaseList, combined with |: the DBRECOVER_xxx flags
// of the Domino C API (reference page DBRECOVER_xxx of the public
// repository HCL-TECH-SOFTWARE/domino-c-api-docs). Values as in the C API's
// header nsfdb.h published in the public repository miranda-ng/miranda-ng,
// plugins/LotusNotify/src/cnotesapi/include/nsfdb.h.
constexpr DWORD DBRECOVER_WAIT = 0x0001;                 // wait for another recovery instead of failing
constexpr DWORD DBRECOVER_ZAP_ID = 0x0002;               // new instance id after recovery
constexpr DWORD DBRECOVER_REFRESH_BACKUP = 0x0004;       // roll forward, keep it a backup; alone only
constexpr DWORD DBRECOVER_POINT_IN_TIME = 0x0008;        // only transactions before *recoveryTime; new instance id
constexpr DWORD DBRECOVER_ZAP_REPLICAID = 0x0010;        // new replica id; new instance id
constexpr DWORD DBRECOVER_ZAP_ID_IF_NECESSARY = 0x0020;  // new instance id if the original is online
constexpr DWORD DBRECOVER_ALT_RETRIEVE_PATH = 0x0040;    // archived logs go to TRANSLOG_RECOVER_PATH

// Called by RecoverDatabaseList for an archived log missing from the log
// directory: the first log number needed and a path whose drive and
// directory name the folder to place it in. 0 when a log was placed, 0xFFFF
// otherwise (recovery then fails).
using ArchivedLogCallbackFn = STATUS (*)(void* unused, DWORD logNumber, const char* path);

class DominoApi {
 public:
  virtual ~DominoApi() = default;

  // --- Runtime ---

  // Starts the runtime. argc 0 (argv unused): the default installation;
  // argc 2: argv[1] is "=" followed by the full path of the server's
  // notes.ini. Fails when the arguments have another form or notes.ini
  // cannot be read. A second start replaces the first (its handles end).
  virtual STATUS InitRuntime(int argc, char** argv) = 0;
  // Ends the runtime: every open handle and context ends with it. Harmless
  // without a start.
  virtual void TermRuntime() = 0;

  // --- Databases ---

  // Opens the database at path; *handle (set to 0 on failure) is the
  // caller's until CloseDatabase or TermRuntime. Fails when the path cannot
  // be mapped, the file is missing or not a sound database, the database is
  // offline, or the server's transaction log cannot be used.
  virtual STATUS OpenDatabase(const char* path, DBHANDLE* handle) = 0;
  // Ends the handle (a backup it still holds is given up). Fails for a
  // handle that is not open.
  virtual STATUS CloseDatabase(DBHANDLE handle) = 0;
  // Writes the text of status (callers mask it with ERR_MASK),
  // zero-terminated, into buffer (at most size bytes; cut to fit); returns
  // the text's length. An unknown status gets a text that names its value.
  virtual WORD GetErrorText(WORD zero, STATUS status, char* buffer, WORD size) = 0;
  // The database's logging facts: *logged 1 when its changes go to the
  // server's transaction log, else 0; logId the server log's identifier
  // (16 bytes; zeros without logging); secondId the database's instance id
  // (16 bytes); *logExtent the number of the extent that takes the next log
  // record. Any output may be null.
  virtual STATUS GetDatabaseLogInfo(DBHANDLE handle, DWORD zero, DWORD* logged, BYTE logId[16],
                                    BYTE secondId[16], DWORD* logExtent) = 0;
  // The 128-byte database record (title, replica id, the database's own
  // bytes) into record.
  virtual STATUS ReadDatabaseRecord(DBHANDLE handle, BYTE record[128]) = 0;
  // Replaces the database record: one transaction, logged like any change.
  virtual STATUS WriteDatabaseRecord(DBHANDLE handle, const BYTE record[128]) = 0;

  // --- Backup mode and change information ---

  // Puts the database in backup mode: from now on every page written to it,
  // by any process, is recorded. *context identifies this backup in the
  // calls below; value1 and value2 (may be null) are set to 0. Fails when
  // the database is already in backup mode.
  virtual STATUS BackupStart(DBHANDLE handle, DWORD zero, DWORD* context, DWORD* value1,
                             DWORD* value2) = 0;
  // Fixes the change information: the pages recorded since BackupStart, as
  // they are now. Writes go on afterwards. Fails for a context that is not
  // this database's backup.
  virtual STATUS BackupStop(DBHANDLE handle, DWORD context) = 0;
  // Ends backup mode; abandon: 0 done, 1 give the backup up. Fails for a
  // context that is not this database's backup.
  virtual STATUS BackupEnd(DBHANDLE handle, DWORD context, DWORD abandon) = 0;
  // The size in bytes of the fixed change information (*low, *high: its low
  // and high 32 bits; either may be null). Fails before BackupStop.
  virtual STATUS GetChangeInfoSize(DBHANDLE handle, DWORD context, DWORD zero, DWORD* low,
                                   DWORD* high) = 0;
  // The next chunk of the change information: at most size bytes into
  // buffer, their count in *length (0 on failure). *length 0 with NOERROR
  // ends the stream. Fails before BackupStop.
  virtual STATUS GetChangeInfo(DBHANDLE handle, DWORD context, DWORD zero, void* buffer, DWORD size,
                               DWORD* length) = 0;
  // Starts applying change information of (high << 32 | low) bytes to the
  // database at targetPath (a restored copy, not open through the runtime);
  // *applyContext (0 on failure) names it in the two calls below and ends
  // with ApplyChangeInfoEnd or TermRuntime.
  virtual STATUS ApplyChangeInfoStart(DWORD* applyContext, const char* targetPath, DWORD zero,
                                      DWORD low, DWORD high) = 0;
  // The next length bytes of the stream, in order. Fails for an unknown
  // context, or a stream longer than declared.
  virtual STATUS ApplyChangeInfo(DWORD applyContext, DWORD zero, const void* buffer,
                                 DWORD length) = 0;
  // Ends the apply context. Only now is the target written, and only when
  // the whole stream was sound and belongs to it: on failure the target is
  // as it was.
  virtual STATUS ApplyChangeInfoEnd(DWORD applyContext, DWORD zero) = 0;

  // --- Transaction logs ---

  // Opens the archive walk below; fails without archive logging
  // (ERR_LOGGING_DISABLED when the server does not log at all).
  virtual STATUS ArchiveBegin() = 0;
  // Closes it.
  virtual STATUS ArchiveEnd() = 0;
  // The oldest full log extent that waits to be archived, then the next
  // ones: the log's identifier (16 bytes), its number and the full path of
  // its file (path: at least 1024 bytes). ERR_NO_MORE_LOGS when none is
  // left: *logNumber is then the extent now being written.
  virtual STATUS GetFirstArchiveLog(BYTE logId[16], DWORD* logNumber, char* path) = 0;
  virtual STATUS GetNextArchiveLog(BYTE logId[16], DWORD* logNumber, char* path) = 0;
  // Says the extent has been copied away: the runtime may remove it from
  // the log directory. Fails for another log's identifier or an extent
  // that is not full.
  virtual STATUS MarkLogArchived(const BYTE logId[16], DWORD logNumber) = 0;
  // *style 0 circular, 1 archive; ERR_LOGGING_DISABLED without logging.
  virtual STATUS GetLoggingStyle(DWORD* style) = 0;

  // --- Names, paths, times ---

  // The server's canonical name ("CN=srv1/O=Org") into buffer256 (256
  // bytes; empty on failure).
  virtual STATUS GetServerName(char* buffer256) = 0;
  // The abbreviated form of a canonical name ("srv1/Org") into out (size
  // bytes, cut to fit: a failure), its length in *length (may be null).
  virtual STATUS AbbreviateName(DWORD zero1, DWORD zero2, const char* name, char* out, WORD size,
                                WORD* length) = 0;
  // The first length bytes of path (0xFFFF: all of it) in the platform's
  // character set into out (size bytes; a failure when it does not fit).
  virtual STATUS TranslatePath(WORD mode, const char* path, WORD length, char* out, WORD size) = 0;
  // Reads a local time "month/day/year hour:minute:second" (or a date
  // alone: its midnight) from *text (at most length bytes) into *out and
  // moves *text past what it read. A text that is no time fails, *text
  // unmoved.
  virtual STATUS TextToTimeDate(void* zero1, void* zero2, const char** text, WORD length,
                                TIMEDATE* out) = 0;

  // --- Recovery ---

  // Rolls the listed databases forward from the transaction log: every
  // transaction committed since each database's own state, matched by the
  // instance id in the database, so a copy at another path recovers as its
  // original would.
  //   packedList: full paths, each followed by a NUL, the whole followed by
  //     one more NUL, within 65,536 bytes.
  //   callback: asked for archived logs missing from the log directory.
  //   options: DBRECOVER_xxx flags. DBRECOVER_ZAP_ID gives every recovered
  //     database a new instance id, so it lives beside its original;
  //     DBRECOVER_ZAP_REPLICAID also a new replica id (in its database
  //     record); DBRECOVER_POINT_IN_TIME applies only the transactions
  //     committed before *recoveryTime, and gives new instance ids.
  //   failingPosition: set to the 1-based position of the database that
  //     made recovery fail, 0 when none is named.
  //   recoveryTime: null, or a moment (from TextToTimeDate); required with
  //     DBRECOVER_POINT_IN_TIME. On success it receives the commit time of
  //     the latest transaction in any of the recovered databases.
  // ERR_LOGS_MISSING: a log the recovery needs was not found (the callback
  // could not place it); ERR_DB_NOT_LOGGED: the named database is not
  // logged. A database that already holds a transaction committed at or
  // after the moment of DBRECOVER_POINT_IN_TIME fails, named: an earlier
  // backup is needed. DBRECOVER_REFRESH_BACKUP with any of ZAP_ID,
  // POINT_IN_TIME or ZAP_REPLICAID fails. Nothing is written unless every
  // database and every log needed is sound. Progress goes to standard
  // output.
  virtual STATUS RecoverDatabaseList(const char* packedList, ArchivedLogCallbackFn callback,
                                     DWORD options, WORD* failingPosition,
                                     TIMEDATE* recoveryTime) = 0;
  // Takes the database at path offline: the server stops using it (closes
  // it, writes nothing to it) and the file is deleted, so that a restored
  // copy can be put in its place and recovered there. Waits up to
  // waitMilliseconds for the database to be free; fails when it stays in
  // use (in backup mode, for one), with nothing changed. options: 0.
  virtual STATUS TakeDatabaseOffline(const char* path, DWORD waitMilliseconds, DWORD options) = 0;
  // Brings the database at path (which must exist) online again: the
  // server opens it anew. A database that is online stays so. options: 0.
  virtual STATUS BringDatabaseOnline(const char* path, DWORD options) = 0;

  // --- Notes (NSFDbGetModifiedNoteTable, IDScan, IDDestroyTable,
  // NSFNoteOpen, NSFNoteClose of the C API) ---

  // An ID table of the notes of the classes in noteClassMask modified since
  // `since` (a zero TIMEDATE: every note), in *table; *until receives the
  // runtime's present time. Ids of deleted notes carry RRV_DELETED.
  virtual STATUS GetModifiedNoteTable(DBHANDLE handle, WORD noteClassMask, TIMEDATE since,
                                      TIMEDATE* until, DHANDLE* table) = 0;
  // The first (first != 0) or next id of the table after *id; 0 when there
  // is none (the C API's BOOL, an int).
  virtual int ScanIdTable(DHANDLE table, int first, DWORD* id) = 0;
  virtual STATUS DestroyIdTable(DHANDLE table) = 0;
  // Reads a note into the runtime's memory: every item of it, so a note
  // that opens was read whole. options: OPEN_xxx flags, 0 here.
  virtual STATUS OpenNote(DBHANDLE handle, NOTEID id, WORD options, NOTEHANDLE* note) = 0;
  virtual STATUS CloseNote(NOTEHANDLE note) = 0;
};

// Status of every call while no runtime library is installed in the process.
constexpr STATUS ERR_NO_RUNTIME = 0x0FFE;

// The process's Domino API: the implementation installed with SetDominoApi
// (the program installs the runtime it links; tests install mocks). Until one
// is installed, every call fails with ERR_NO_RUNTIME.
DominoApi& Domino();
void SetDominoApi(DominoApi* api);  // nullptr: none installed
