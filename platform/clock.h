// Time: local time honours TZ; FILETIME is 100 ns since 1601-01-01 UTC.
#pragma once

#include <cstdint>

#include "platform/win_types.h"

namespace platform {

void GetLocalTime(SYSTEMTIME& out);
void GetSystemTime(SYSTEMTIME& out);
void GetSystemTimeAsFileTime(FILETIME& out);
bool FileTimeToLocalFileTime(const FILETIME& utc, FILETIME& local);
bool LocalFileTimeToFileTime(const FILETIME& local, FILETIME& utc);
bool FileTimeToSystemTime(const FILETIME& ft, SYSTEMTIME& out);
bool SystemTimeToFileTime(const SYSTEMTIME& st, FILETIME& out);
LONG CompareFileTime(const FILETIME& a, const FILETIME& b);  // -1, 0, 1
void Sleep(DWORD milliseconds);
std::uint64_t MonotonicMilliseconds();

}  // namespace platform
