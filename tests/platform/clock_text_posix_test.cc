// Time zones and text of the POSIX layer: local time follows TZ (changed
// within the process), and its ANSI code page is UTF-8.
#include <gtest/gtest.h>

#include <string>

#include "platform/clock.h"
#include "platform/text.h"
#include "tests/support/temp_host.h"

namespace platform {
namespace {

TEST(ClockPosix, LocalTimeHonoursTzAndDaylightSaving) {
  TempHostRoot eastern(HostOptions{"D", "", "", "", "EST5EDT,M3.2.0,M11.1.0"});
  // Summer: UTC-4; winter: UTC-5; and back.
  for (const auto& [month, localHour] : {std::pair{7, 8}, std::pair{1, 7}}) {
    FILETIME utc, local, again;
    SYSTEMTIME st;
    ASSERT_TRUE(SystemTimeToFileTime(SYSTEMTIME{2021, WORD(month), 0, 1, 12, 0, 0, 250}, utc));
    ASSERT_TRUE(FileTimeToLocalFileTime(utc, local));
    ASSERT_TRUE(FileTimeToSystemTime(local, st));
    EXPECT_EQ(st.wHour, localHour);
    EXPECT_EQ(st.wMilliseconds, 250);
    ASSERT_TRUE(LocalFileTimeToFileTime(local, again));
    EXPECT_EQ(FileTimeToU64(again), FileTimeToU64(utc));
  }

  // The clock: local time is the system time moved by the zone's offset.
  TempHostRoot fixed(HostOptions{"D", "", "", "", "XYZ-3"});
  SYSTEMTIME sys, loc;
  GetSystemTime(sys);
  GetLocalTime(loc);
  FILETIME a, b, now;
  ASSERT_TRUE(SystemTimeToFileTime(sys, a));
  ASSERT_TRUE(SystemTimeToFileTime(loc, b));
  EXPECT_NEAR((double(FileTimeToU64(b)) - double(FileTimeToU64(a))) / 36e9, 3.0, 0.01);
  GetSystemTimeAsFileTime(now);
  EXPECT_NEAR(double(FileTimeToU64(now)), double(FileTimeToU64(a)), 5e7);
}

TEST(TextPosix, Utf8AndUtf16BothWays) {
  const std::string text = "a\xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80";  // a ü € 😀
  const std::u16string wide = AnsiToWide(text);
  EXPECT_EQ(wide, (std::u16string{u'a', 0x00FC, 0x20AC, 0xD83D, 0xDE00}));
  EXPECT_EQ(WideToAnsi(wide), text);

  // Invalid input becomes U+FFFD and never swallows the valid text after it.
  EXPECT_EQ(AnsiToWide("\x80z"), (std::u16string{0xFFFD, u'z'}));
  EXPECT_EQ(AnsiToWide("\xE2\x82z"), (std::u16string{0xFFFD, u'z'}));      // truncated
  EXPECT_EQ(AnsiToWide("\xC0\xAFz"), (std::u16string{0xFFFD, 0xFFFD, u'z'}));  // overlong
  EXPECT_EQ(AnsiToWide("\xED\xA0\x80"), (std::u16string{0xFFFD, 0xFFFD, 0xFFFD}));  // surrogate
  EXPECT_EQ(AnsiToWide("\xF5\x80"), (std::u16string{0xFFFD, 0xFFFD}));
  EXPECT_EQ(AnsiToWide("\xE2\x82"), (std::u16string{0xFFFD}));  // cut at the end
  EXPECT_EQ(WideToAnsi(std::u16string{0xD800, u'x'}), "\xEF\xBF\xBDx");
  EXPECT_EQ(WideToAnsi(std::u16string{0xDC00}), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace platform
