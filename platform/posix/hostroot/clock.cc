// Time: FILETIME (100 ns since 1601-01-01 UTC), SYSTEMTIME, local time by TZ.
#include "platform/clock.h"
#include "platform/shared/machine.h"

#include <time.h>

#include <chrono>
#include <thread>

namespace platform {
namespace {

constexpr std::int64_t kTicksPerSecond = 10'000'000;
constexpr std::int64_t kSecondsFrom1601To1970 = 11'644'473'600;
// FILETIMEs with the high bit set are refused by the conversions.
constexpr std::uint64_t kMaxFileTime = 0x7FFFFFFFFFFFFFFFull;

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
}

bool IsLeap(unsigned year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

unsigned DaysInMonth(unsigned year, unsigned month) {
  static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

// Seconds since 1970 (may be negative) and the 100 ns remainder of a FILETIME.
void SplitFileTime(std::uint64_t ticks, std::int64_t& unixSeconds, std::int64_t& remainder) {
  unixSeconds = static_cast<std::int64_t>(ticks / kTicksPerSecond) - kSecondsFrom1601To1970;
  remainder = static_cast<std::int64_t>(ticks % kTicksPerSecond);
}

bool MakeFileTime(std::int64_t unixSeconds, std::int64_t remainder, FILETIME& out) {
  const std::int64_t seconds = unixSeconds + kSecondsFrom1601To1970;
  if (seconds < 0 || static_cast<std::uint64_t>(seconds) > kMaxFileTime / kTicksPerSecond) {
    return false;
  }
  out = U64ToFileTime(static_cast<std::uint64_t>(seconds) * kTicksPerSecond +
                      static_cast<std::uint64_t>(remainder));
  return true;
}

void FillSystemTime(const struct tm& tm, long nanoseconds, SYSTEMTIME& out) {
  out.wYear = static_cast<WORD>(tm.tm_year + 1900);
  out.wMonth = static_cast<WORD>(tm.tm_mon + 1);
  out.wDayOfWeek = static_cast<WORD>(tm.tm_wday);
  out.wDay = static_cast<WORD>(tm.tm_mday);
  out.wHour = static_cast<WORD>(tm.tm_hour);
  out.wMinute = static_cast<WORD>(tm.tm_min);
  out.wSecond = static_cast<WORD>(tm.tm_sec);
  out.wMilliseconds = static_cast<WORD>(nanoseconds / 1'000'000);
}

// The offset of local time from UTC, in seconds, at a given instant.
long LocalOffsetAt(time_t instant) {
  struct tm tm {};
  if (localtime_r(&instant, &tm) == nullptr) return 0;
  return tm.tm_gmtoff;
}

}  // namespace

void machine::GetLocalTime(SYSTEMTIME& out) {
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  struct tm tm {};
  localtime_r(&now.tv_sec, &tm);
  FillSystemTime(tm, now.tv_nsec, out);
}

void machine::GetSystemTime(SYSTEMTIME& out) {
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  struct tm tm {};
  gmtime_r(&now.tv_sec, &tm);
  FillSystemTime(tm, now.tv_nsec, out);
}

void machine::GetSystemTimeAsFileTime(FILETIME& out) {
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  MakeFileTime(now.tv_sec, now.tv_nsec / 100, out);
}

// Uses the offset in force at the given instant (daylight saving included),
// so that a converted time reads as the wall clock showed it then.
bool FileTimeToLocalFileTime(const FILETIME& utc, FILETIME& local) {
  const std::uint64_t ticks = FileTimeToU64(utc);
  if (ticks > kMaxFileTime) return false;
  std::int64_t seconds, remainder;
  SplitFileTime(ticks, seconds, remainder);
  return MakeFileTime(seconds + LocalOffsetAt(static_cast<time_t>(seconds)), remainder, local);
}

bool LocalFileTimeToFileTime(const FILETIME& local, FILETIME& utc) {
  const std::uint64_t ticks = FileTimeToU64(local);
  if (ticks > kMaxFileTime) return false;
  std::int64_t seconds, remainder;
  SplitFileTime(ticks, seconds, remainder);
  const time_t wall = static_cast<time_t>(seconds);
  struct tm tm {};
  if (gmtime_r(&wall, &tm) == nullptr) return false;
  tm.tm_isdst = -1;  // let the zone rules decide
  const time_t instant = mktime(&tm);
  if (instant == static_cast<time_t>(-1) && seconds != -1) return false;
  return MakeFileTime(instant, remainder, utc);
}

bool FileTimeToSystemTime(const FILETIME& ft, SYSTEMTIME& out) {
  const std::uint64_t ticks = FileTimeToU64(ft);
  if (ticks > kMaxFileTime) return false;
  std::int64_t seconds, remainder;
  SplitFileTime(ticks, seconds, remainder);
  std::int64_t days = seconds / 86400;
  std::int64_t secondOfDay = seconds % 86400;
  if (secondOfDay < 0) {
    secondOfDay += 86400;
    --days;
  }
  std::int64_t year;
  unsigned month, day;
  CivilFromDays(days, year, month, day);
  out.wYear = static_cast<WORD>(year);
  out.wMonth = static_cast<WORD>(month);
  out.wDay = static_cast<WORD>(day);
  out.wDayOfWeek = static_cast<WORD>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
  out.wHour = static_cast<WORD>(secondOfDay / 3600);
  out.wMinute = static_cast<WORD>(secondOfDay / 60 % 60);
  out.wSecond = static_cast<WORD>(secondOfDay % 60);
  out.wMilliseconds = static_cast<WORD>(remainder / 10'000);
  return true;
}

bool SystemTimeToFileTime(const SYSTEMTIME& st, FILETIME& out) {
  if (st.wYear < 1601 || st.wYear > 30827 || st.wMonth < 1 || st.wMonth > 12 || st.wDay < 1 ||
      st.wDay > DaysInMonth(st.wYear, st.wMonth) || st.wHour > 23 || st.wMinute > 59 ||
      st.wSecond > 59 || st.wMilliseconds > 999) {
    return false;
  }
  const std::int64_t seconds = DaysFromCivil(st.wYear, st.wMonth, st.wDay) * 86400 +
                               st.wHour * 3600 + st.wMinute * 60 + st.wSecond;
  return MakeFileTime(seconds, std::int64_t(st.wMilliseconds) * 10'000, out);
}

LONG CompareFileTime(const FILETIME& a, const FILETIME& b) {
  const std::uint64_t x = FileTimeToU64(a), y = FileTimeToU64(b);
  return x < y ? -1 : (x > y ? 1 : 0);
}

void Sleep(DWORD milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

std::uint64_t MonotonicMilliseconds() {
  struct timespec now {};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000 + static_cast<std::uint64_t>(now.tv_nsec) / 1'000'000;
}

}  // namespace platform
