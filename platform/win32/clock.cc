// Time on the system's calls. Conversions between UTC and local FILETIMEs
// use the zone's rule at the instant converted (daylight saving included),
// so that a converted time reads as the wall clock showed it then.
#include "platform/win32/windows_api.h"

namespace platform {
namespace {

using win32::FromWin;
using win32::ToWin;

constexpr std::uint64_t kMaxFileTime = 0x7FFFFFFFFFFFFFFFull;
constexpr std::uint64_t kTicksPerMillisecond = 10'000;

SYSTEMTIME FromWin(const WinSYSTEMTIME& st) {
  SYSTEMTIME out;
  out.wYear = st.wYear;
  out.wMonth = st.wMonth;
  out.wDayOfWeek = st.wDayOfWeek;
  out.wDay = st.wDay;
  out.wHour = st.wHour;
  out.wMinute = st.wMinute;
  out.wSecond = st.wSecond;
  out.wMilliseconds = st.wMilliseconds;
  return out;
}

WinSYSTEMTIME ToWin(const SYSTEMTIME& st) {
  return WinSYSTEMTIME{st.wYear, st.wMonth, st.wDayOfWeek, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
}

bool IsLeap(unsigned year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// Windows refuses impossible dates; Wine takes the 29th of February of any
// year (and such) and moves on to the next month, so they are refused here.
bool IsValid(const SYSTEMTIME& st) {
  static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (st.wYear < 1601 || st.wYear > 30827 || st.wMonth < 1 || st.wMonth > 12) return false;
  const unsigned days = st.wMonth == 2 && IsLeap(st.wYear) ? 29 : kDays[st.wMonth - 1];
  return st.wDay >= 1 && st.wDay <= days && st.wHour <= 23 && st.wMinute <= 59 && st.wSecond <= 59 &&
         st.wMilliseconds <= 999;
}

// Moves a FILETIME through a conversion of its SYSTEMTIME, keeping the part
// below a millisecond that a SYSTEMTIME cannot hold.
template <typename Convert>
bool Shift(const FILETIME& in, FILETIME& out, Convert convert) {
  const std::uint64_t ticks = FileTimeToU64(in);
  if (ticks > kMaxFileTime) return false;
  const WinFILETIME whole = ToWin(U64ToFileTime(ticks - ticks % kTicksPerMillisecond));
  WinSYSTEMTIME from, to;
  WinFILETIME result;
  if (!::FileTimeToSystemTime(&whole, &from) || !convert(&from, &to) || !::SystemTimeToFileTime(&to, &result)) {
    return false;
  }
  out = U64ToFileTime(FileTimeToU64(FromWin(result)) + ticks % kTicksPerMillisecond);
  return true;
}

}  // namespace

void GetLocalTime(SYSTEMTIME& out) {
  WinSYSTEMTIME st;
  ::GetLocalTime(&st);
  out = FromWin(st);
}

void GetSystemTime(SYSTEMTIME& out) {
  WinSYSTEMTIME st;
  ::GetSystemTime(&st);
  out = FromWin(st);
}

void GetSystemTimeAsFileTime(FILETIME& out) {
  WinFILETIME ft;
  ::GetSystemTimeAsFileTime(&ft);
  out = FromWin(ft);
}

bool FileTimeToLocalFileTime(const FILETIME& utc, FILETIME& local) {
  return Shift(utc, local, [](const WinSYSTEMTIME* from, WinSYSTEMTIME* to) {
    return ::SystemTimeToTzSpecificLocalTime(nullptr, from, to) != FALSE;
  });
}

bool LocalFileTimeToFileTime(const FILETIME& local, FILETIME& utc) {
  return Shift(local, utc, [](const WinSYSTEMTIME* from, WinSYSTEMTIME* to) {
    return ::TzSpecificLocalTimeToSystemTime(nullptr, from, to) != FALSE;
  });
}

bool FileTimeToSystemTime(const FILETIME& ft, SYSTEMTIME& out) {
  if (FileTimeToU64(ft) > kMaxFileTime) return false;
  const WinFILETIME in = ToWin(ft);
  WinSYSTEMTIME st;
  if (!::FileTimeToSystemTime(&in, &st)) return false;
  out = FromWin(st);
  return true;
}

bool SystemTimeToFileTime(const SYSTEMTIME& st, FILETIME& out) {
  if (!IsValid(st)) return false;
  const WinSYSTEMTIME in = ToWin(st);
  WinFILETIME ft;
  if (!::SystemTimeToFileTime(&in, &ft)) return false;
  out = FromWin(ft);
  return true;
}

LONG CompareFileTime(const FILETIME& a, const FILETIME& b) {
  const WinFILETIME x = ToWin(a), y = ToWin(b);
  return static_cast<LONG>(::CompareFileTime(&x, &y));
}

void Sleep(DWORD milliseconds) { ::Sleep(milliseconds); }

std::uint64_t MonotonicMilliseconds() { return ::GetTickCount64(); }

}  // namespace platform
