// The machine's own answers, one implementation per platform: those behind
// platform::HostSeam, and the system's message texts.
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
// The system's text for a Win32 code or an HRESULT, without a trailing line
// end; empty when it has none.
std::string MessageText(std::uint32_t code);

}  // namespace platform::machine
