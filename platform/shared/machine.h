// The machine's own answers behind platform::HostSeam, one implementation
// per platform.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win_types.h"

namespace platform::machine {

bool IsProcessRunning(const std::vector<std::string>& names);
DWORD GetDiskFreeSpace(const std::string& path, std::uint64_t& freeBytes);
void GetSystemTimeAsFileTime(FILETIME& out);
void GetSystemTime(SYSTEMTIME& out);
void GetLocalTime(SYSTEMTIME& out);

}  // namespace platform::machine
