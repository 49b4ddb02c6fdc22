// The recovery hint files beside a snapshot: log_hint and disabled_databases.
#pragma once

#include <array>
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
int GetCurrentLogPosition(DWORD& logNumber, std::string& logSeries);
