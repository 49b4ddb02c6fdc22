// The hint files beside a snapshot in its ArkLedger directory: log_hint,
// disabled_databases, change_info_list and snapshot_time_date.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/win_types.h"

namespace ark {

// The files' names in a snapshot's ArkLedger directory.
inline constexpr const char* kLogHintName = "log_hint";
inline constexpr const char* kDisabledDatabasesName = "disabled_databases";
inline constexpr const char* kChangeInfoListName = "change_info_list";
inline constexpr const char* kSnapshotTimeDateName = "snapshot_time_date";

// "%08x" of the XOR of the four little-endian 32-bit words of a log identifier.
std::string LogSeries(const std::array<BYTE, 16>& logId);

// The writers of log_hint, disabled_databases and change_info_list make the
// file in directory anew and flush it, with the directories above it, to the
// disk; path receives the file's path also on failure. 0, or -1 when the file
// cannot be created, written whole or flushed: it then counts as not written
// and a file made is removed again (a restore must not trust a partial
// one). Given a batch,
// they add the file and its directories to it instead of flushing: the file
// is durable only once the caller's Flush of the batch succeeded.

// log_hint: the log extent in decimal, "\r\n", then LogSeries(logId) with no
// line end: where in the transaction log the backup started.
int WriteLogHint(const std::string& directory, DWORD logExtent, const std::array<BYTE, 16>& logId,
                 std::string& path, platform::FlushBatch* batch = nullptr);
// Reads log_hint: its first item, a decimal number (above 4294967295 read as
// that), into logExtent, and the next blank-separated item into logSeries.
// -1 when the file cannot be read (nothing set); else 0 and path set, with
// logExtent and logSeries left as they were when the file does not begin
// with a number, and logSeries when no second item follows.
int ReadLogHint(const std::string& directory, DWORD& logExtent, std::string& logSeries,
                std::string& path);
// disabled_databases: each path followed by "\r\n".
int WriteDisabledDatabases(const std::string& directory, const std::vector<std::string>& disabled,
                           std::string& path, platform::FlushBatch* batch = nullptr);
// Appends the paths of disabled_databases, one per line ("\r\n" or "\n"): a
// path with a blank stays one entry, lines of nothing but white space are
// skipped. 0 and path set, or -1 when the file cannot be read (nothing set).
int ReadDisabledDatabases(const std::string& directory, std::vector<std::string>& disabled,
                          std::string& path);
// One change-information file that a backup wrote: its size in bytes and its
// path relative to the snapshot's ArkLedger directory.
struct ChangeInfoListEntry {
  std::uint64_t size = 0;
  std::string relativePath;  // "Domino\Data\mail\jo.nsf.dat"
};
// change_info_list: one line per file, its size in decimal, one blank, its
// relative path, "\r\n". A file that could not be written completely is
// removed again (-1): a restore must not trust a partial list.
int WriteChangeInfoList(const std::string& directory, const std::vector<ChangeInfoListEntry>& files,
                        std::string& path, platform::FlushBatch* batch = nullptr);
// 0 and the entries appended; -1 when there is no such file (a snapshot
// taken before the list was written); -2 when a line is not a size and a
// path (*badLine: its 1-based number); -3 when the file is there but cannot
// be read (*readError: the platform's code). path receives the file's path.
int ReadChangeInfoList(const std::string& directory, std::vector<ChangeInfoListEntry>& files,
                       std::string& path, std::size_t* badLine = nullptr, DWORD* readError = nullptr);
// snapshot_time_date: the dated name that the recent snapshot gets when the
// next backup renames it, written as the whole file (no line end). Write: 0,
// or -1 when it cannot be written. Read: false when the file cannot be read;
// trailing white space is dropped.
int WriteSnapshotTimeDate(const std::string& directory, const std::string& datedName);
bool ReadSnapshotTimeDate(const std::string& directory, std::string& datedName);
// The number and series of the log Domino writes now (the one after the last
// archived log). 0, or the failing status of the runtime's log listing (the
// number then 0: the position is unknown).
int GetCurrentLogPosition(DWORD& logNumber, std::string& logSeries);

}  // namespace ark
