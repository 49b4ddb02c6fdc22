// FILETIME and SYSTEMTIME, and text.
#include <gtest/gtest.h>

#include <string>

#include "platform/clock.h"
#include "platform/text.h"

namespace platform {
namespace {

SYSTEMTIME Time(WORD y, WORD mo, WORD d, WORD h, WORD mi, WORD s, WORD ms) {
  SYSTEMTIME st;
  st.wYear = y;
  st.wMonth = mo;
  st.wDay = d;
  st.wHour = h;
  st.wMinute = mi;
  st.wSecond = s;
  st.wMilliseconds = ms;
  return st;
}

TEST(Clock, FileTimeAndSystemTimeAgree) {
  FILETIME ft;
  ASSERT_TRUE(SystemTimeToFileTime(Time(1970, 1, 1, 0, 0, 0, 0), ft));
  EXPECT_EQ(FileTimeToU64(ft), 116444736000000000ull);
  ASSERT_TRUE(SystemTimeToFileTime(Time(1601, 1, 1, 0, 0, 0, 0), ft));
  EXPECT_EQ(FileTimeToU64(ft), 0u);
  ASSERT_TRUE(SystemTimeToFileTime(Time(2003, 3, 2, 9, 5, 3, 7), ft));
  EXPECT_EQ(FileTimeToU64(ft), 126910695030070000ull);
  SYSTEMTIME back;
  ASSERT_TRUE(FileTimeToSystemTime(ft, back));
  EXPECT_EQ(back.wYear, 2003);
  EXPECT_EQ(back.wMonth, 3);
  EXPECT_EQ(back.wDay, 2);
  EXPECT_EQ(back.wDayOfWeek, 0);  // a Sunday
  EXPECT_EQ(back.wHour, 9);
  EXPECT_EQ(back.wMinute, 5);
  EXPECT_EQ(back.wSecond, 3);
  EXPECT_EQ(back.wMilliseconds, 7);
  ASSERT_TRUE(SystemTimeToFileTime(Time(2000, 2, 29, 23, 59, 59, 999), ft));
  ASSERT_TRUE(FileTimeToSystemTime(ft, back));
  EXPECT_EQ(back.wDay, 29);
  EXPECT_EQ(back.wMilliseconds, 999);

  // Impossible dates and times are refused, the output untouched.
  ft = U64ToFileTime(42);
  for (const SYSTEMTIME& bad : {Time(2001, 2, 29, 0, 0, 0, 0), Time(2000, 13, 1, 0, 0, 0, 0),
                                Time(2000, 0, 1, 0, 0, 0, 0), Time(2000, 4, 31, 0, 0, 0, 0),
                                Time(2000, 1, 1, 24, 0, 0, 0), Time(2000, 1, 1, 0, 60, 0, 0),
                                Time(2000, 1, 1, 0, 0, 60, 0), Time(2000, 1, 1, 0, 0, 0, 1000),
                                Time(1600, 12, 31, 0, 0, 0, 0), Time(1900, 2, 29, 0, 0, 0, 0)}) {
    EXPECT_FALSE(SystemTimeToFileTime(bad, ft)) << bad.wYear << "-" << bad.wMonth << "-" << bad.wDay;
  }
  EXPECT_EQ(FileTimeToU64(ft), 42u);
  EXPECT_FALSE(FileTimeToSystemTime(U64ToFileTime(0x8000000000000000ull), back));

  EXPECT_EQ(CompareFileTime(U64ToFileTime(1), U64ToFileTime(2)), -1);
  EXPECT_EQ(CompareFileTime(U64ToFileTime(1ull << 32), U64ToFileTime(2)), 1);
  EXPECT_EQ(CompareFileTime(U64ToFileTime(5), U64ToFileTime(5)), 0);
}

TEST(Text, AsciiCaseAndWideText) {
  const std::string text = "Domino Server 7";
  EXPECT_EQ(AnsiToWide(text), u"Domino Server 7");
  EXPECT_EQ(WideToAnsi(u"Domino Server 7"), text);
  EXPECT_EQ(AnsiToWide(""), u"");
  EXPECT_EQ(ToUpperAnsi("nserver.exe \xC3\xBC"), "NSERVER.EXE \xC3\xBC");
  EXPECT_EQ(ToLowerAnsi("NLNOTES"), "nlnotes");
  EXPECT_TRUE(EqualsNoCase("DominoSnap__Recent", "dominosnap__RECENT"));
  EXPECT_FALSE(EqualsNoCase("abc", "abcd"));
  EXPECT_TRUE(StartsWithNoCase("DOMINOSNAP__host", "dominosnap__"));
  EXPECT_FALSE(StartsWithNoCase("dom", "domino"));
}

}  // namespace
}  // namespace platform
