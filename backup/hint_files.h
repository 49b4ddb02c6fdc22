// The recovery hint files beside a snapshot: log_hint, disabled_databases
// and change_info_list.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/win_types.h"

// "%08x" of the XOR of the four little-endian 32-bit words of a log identifier.
std::string LogSeries(const std::array<BYTE, 16>& logId);

int WriteLogHint(const std::string& directory, DWORD logExtent, const std::array<BYTE, 16>& logId,
                 std::string& path);
int ReadLogHint(const std::string& directory, DWORD& logExtent, std::string& logSeries,
                std::string& path);
int WriteDisabledDatabases(const std::string& directory, const std::vector<std::string>& disabled,
                           std::string& path);
// One path per line; a path with a blank stays one entry; empty lines skipped.
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
                        std::string& path);
// 0 and the entries appended; -1 when the file cannot be read (a snapshot
// taken before the list was written); -2 when a line is not a size and a
// path (*badLine: its 1-based number). path receives the file's path.
int ReadChangeInfoList(const std::string& directory, std::vector<ChangeInfoListEntry>& files,
                       std::string& path, std::size_t* badLine = nullptr);
int GetCurrentLogPosition(DWORD& logNumber, std::string& logSeries);
