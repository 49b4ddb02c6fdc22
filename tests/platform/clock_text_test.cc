// FILETIME and SYSTEMTIME, and text.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/clock.h"
#include "platform/text.h"

namespace platform {
namespace {

SYSTEMTIME Time(WORD y, WORD mo, WORD d, WORD h = 0, WORD mi = 0, WORD s = 0, WORD ms = 0, WORD weekday = 0) {
  return SYSTEMTIME{y, mo, weekday, d, h, mi, s, ms};
}

TEST(Clock, FileTimeAndSystemTimeAgree) {
  // Both ways; the way back fills in the day of the week.
  const struct {
    SYSTEMTIME time;
    std::uint64_t fileTime;
  } kRows[] = {{Time(1601, 1, 1, 0, 0, 0, 0, 1), 0},
               {Time(1970, 1, 1, 0, 0, 0, 0, 4), 116444736000000000ull},
               {Time(2003, 3, 2, 9, 5, 3, 7, 0), 126910695030070000ull},
               {Time(2000, 2, 29, 23, 59, 59, 999, 2), 125963423999990000ull}};
  for (const auto& row : kRows) {
    FILETIME ft;
    ASSERT_TRUE(SystemTimeToFileTime(row.time, ft));
    EXPECT_EQ(FileTimeToU64(ft), row.fileTime) << row.time.wYear;
    SYSTEMTIME back;
    ASSERT_TRUE(FileTimeToSystemTime(ft, back));
    EXPECT_EQ(std::memcmp(&back, &row.time, sizeof back), 0) << row.time.wYear;
  }

  // Impossible dates and times are refused, the output untouched.
  FILETIME ft = U64ToFileTime(42);
  for (const SYSTEMTIME& bad : {Time(2001, 2, 29), Time(2000, 13, 1), Time(2000, 0, 1), Time(2000, 4, 31),
                                Time(2000, 1, 1, 24), Time(2000, 1, 1, 0, 60), Time(2000, 1, 1, 0, 0, 60),
                                Time(2000, 1, 1, 0, 0, 0, 1000), Time(1600, 12, 31), Time(1900, 2, 29)}) {
    EXPECT_FALSE(SystemTimeToFileTime(bad, ft)) << bad.wYear << "-" << bad.wMonth << "-" << bad.wDay;
  }
  EXPECT_EQ(FileTimeToU64(ft), 42u);
  SYSTEMTIME back;
  EXPECT_FALSE(FileTimeToSystemTime(U64ToFileTime(0x8000000000000000ull), back));

  EXPECT_EQ(CompareFileTime(U64ToFileTime(1), U64ToFileTime(2)), -1);
  EXPECT_EQ(CompareFileTime(U64ToFileTime(1ull << 32), U64ToFileTime(2)), 1);
  EXPECT_EQ(CompareFileTime(U64ToFileTime(5), U64ToFileTime(5)), 0);
}

TEST(Text, AsciiCaseAndWideText) {
  EXPECT_EQ(AnsiToWide("Domino Server 7"), u"Domino Server 7");
  EXPECT_EQ(WideToAnsi(u"Domino Server 7"), "Domino Server 7");
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
