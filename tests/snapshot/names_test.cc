// Snapshot names, the texts of a creation time and time stamps read back.
#include "snapshot/snapshot_names.h"

#include "platform/text.h"
#include "tests/snapshot/snapshot_fixture.h"

using SnapshotNames = SnapshotHostTest;

TEST_F(SnapshotNames, RecentDatedPrefixAndEntryTexts) {
  // 14:05:07 UTC is 09:05:07 local (five hours behind).
  const FILETIME created = Utc(2003, 2, 3, 14, 5, 7);
  const std::string recent = platform::WideToAnsi(MakeRecentSnapshotName("srv1"));
  const std::u16string dated = MakeDatedSnapshotName("srv1", created);
  EXPECT_EQ(recent, "dominosnap__HOST1__SRV1__recent");
  EXPECT_EQ(platform::WideToAnsi(dated), "dominosnap__HOST1__srv1__2-3-2003_9.5.7");
  // Local time across the turn of the year, hour 23.
  EXPECT_EQ(platform::WideToAnsi(MakeDatedSnapshotName("a", Utc(2004, 1, 1, 4, 59, 59))),
            "dominosnap__HOST1__a__12-31-2003_23.59.59");

  std::string prefix = "kept:";
  MakeSnapshotNamePrefix("srv1", prefix);
  EXPECT_EQ(prefix, "kept:dominosnap__HOST1__srv1");
  prefix = "dominosnap__HOST1__srv1";
  EXPECT_TRUE(SnapshotNameHasPrefix(prefix, recent));
  EXPECT_TRUE(SnapshotNameHasPrefix(prefix, platform::WideToAnsi(dated)));
  EXPECT_FALSE(SnapshotNameHasPrefix(prefix, "dominosnap__HOST1__srv"));
  EXPECT_FALSE(SnapshotNameHasPrefix(prefix, "dominosnap__HOST2__srv1__recent"));

  const SnapshotEntry entry = MakeSnapshotEntry(dated, created);
  EXPECT_EQ(entry.nameText.Get(), "dominosnap__HOST1__srv1__2-3-2003_9.5.7");
  EXPECT_EQ(entry.dateText.Get() + " " + entry.timeText.Get() + " " + entry.stampText.Get() + " " +
                entry.displayText.Get(),
            "2-3-2003 9:5:7 2-3-2003_9.5.7 2/3/2003 9:5:00");
  EXPECT_EQ(entry.componentName.Get(), dated.substr(0, 31));
  EXPECT_EQ(entry.componentValue1, created.dwLowDateTime);
  EXPECT_EQ(entry.componentValue2, created.dwHighDateTime);
  // A name longer than the entry's text keeps its first 255 bytes.
  EXPECT_EQ(MakeSnapshotEntry(std::u16string(300, u'x'), created).nameText.Get(), std::string(255, 'x'));
}

TEST_F(SnapshotNames, TimeStampReadBack) {
  SYSTEMTIME t;
  const FILETIME stamp = ReadTimeStamp("2-3-2003_9.5.7", &t);
  EXPECT_EQ(std::vector<int>({t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds,
                              t.wDayOfWeek}),
            std::vector<int>({2003, 2, 3, 9, 5, 7, 0, 1}));  // a Monday
  // No local-to-UTC step: the fields as they are.
  EXPECT_EQ(FileTimeToU64(stamp), FileTimeToU64(Utc(2003, 2, 3, 9, 5, 7)));
  EXPECT_EQ(platform::CompareFileTime(ReadTimeStamp("10-1-2003_0.0.0"), stamp), 1);
  EXPECT_EQ(platform::CompareFileTime(ReadTimeStamp("2-3-2003_9.5.6"), stamp), -1);
  ReadTimeStamp("3-1-2004_0.0.0", &t);
  EXPECT_EQ(t.wDayOfWeek, 1);  // Monday, after a leap day

  // Unreadable stamps give zero fields, no crash, and no valid time.
  for (const char* bad : {"", "garbage", "_", "13-40-2003_99.99.99", "-5-x_..", "99999999999-1-1_1.1.1"}) {
    SYSTEMTIME u;
    EXPECT_EQ(FileTimeToU64(ReadTimeStamp(bad, &u)), 0u) << bad;
    EXPECT_LT(u.wDayOfWeek, 7) << bad;
  }
}
