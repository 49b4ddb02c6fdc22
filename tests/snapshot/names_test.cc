// Snapshot names, the texts of a creation time and time stamps read back.
#include "snapshot/snapshot_names.h"

#include "platform/text.h"
#include "tests/snapshot/snapshot_test_host.h"

using SnapshotNames = SnapshotHostTest;

TEST_F(SnapshotNames, RecentDatedAndPrefixOfALowerCaseServer) {
  // 14:05:07 UTC is 09:05:07 local (five hours behind).
  const FILETIME created = Utc(2003, 2, 3, 14, 5, 7);
  const std::string recent = platform::WideToAnsi(MakeRecentSnapshotName("srv1"));
  const std::string dated = platform::WideToAnsi(MakeDatedSnapshotName("srv1", created));
  EXPECT_EQ(recent, "dominosnap__HOST1__SRV1__recent");
  EXPECT_EQ(dated, "dominosnap__HOST1__srv1__2-3-2003_9.5.7");

  std::string prefix = "kept:";
  MakeSnapshotNamePrefix("srv1", prefix);
  EXPECT_EQ(prefix, "kept:dominosnap__HOST1__srv1");
  prefix = "dominosnap__HOST1__srv1";
  EXPECT_TRUE(SnapshotNameHasPrefix(prefix, recent));
  EXPECT_TRUE(SnapshotNameHasPrefix(prefix, dated));
  EXPECT_FALSE(SnapshotNameHasPrefix(prefix, "dominosnap__HOST1__srv"));
  EXPECT_FALSE(SnapshotNameHasPrefix(prefix, "dominosnap__HOST2__srv1__recent"));

  // Local time across the turn of the year, hour 23.
  EXPECT_EQ(platform::WideToAnsi(MakeDatedSnapshotName("a", Utc(2004, 1, 1, 4, 59, 59))),
            "dominosnap__HOST1__a__12-31-2003_23.59.59");
}

TEST_F(SnapshotNames, EntryTextsAndWireFields) {
  const FILETIME created = Utc(2003, 2, 3, 14, 5, 7);
  const std::u16string name = MakeDatedSnapshotName("srv1", created);
  const SnapshotEntry entry = MakeSnapshotEntry(name, created);
  EXPECT_EQ(entry.name, "dominosnap__HOST1__srv1__2-3-2003_9.5.7");
  EXPECT_EQ(entry.nameText.Get(), entry.name);
  EXPECT_EQ(entry.dateText.Get(), "2-3-2003");
  EXPECT_EQ(entry.timeText.Get(), "9:5:7");
  EXPECT_EQ(entry.stampText.Get(), "2-3-2003_9.5.7");
  EXPECT_EQ(entry.displayText.Get(), "2/3/2003 9:5:00");
  EXPECT_EQ(entry.componentName.Get(), name.substr(0, 31));
  EXPECT_EQ(entry.componentValue1, created.dwLowDateTime);
  EXPECT_EQ(entry.componentValue2, created.dwHighDateTime);

  // A name longer than the entry's text keeps its first 255 bytes.
  const SnapshotEntry longEntry = MakeSnapshotEntry(std::u16string(300, u'x'), created);
  EXPECT_EQ(longEntry.name, std::string(255, 'x'));
  EXPECT_EQ(longEntry.nameText.Get(), std::string(255, 'x'));
}

TEST_F(SnapshotNames, TimeStampReadBack) {
  SYSTEMTIME t;
  const FILETIME stamp = ReadTimeStamp("2-3-2003_9.5.7", &t);
  EXPECT_EQ(t.wYear, 2003);
  EXPECT_EQ(t.wMonth, 2);
  EXPECT_EQ(t.wDay, 3);
  EXPECT_EQ(t.wHour, 9);
  EXPECT_EQ(t.wMinute, 5);
  EXPECT_EQ(t.wSecond, 7);
  EXPECT_EQ(t.wMilliseconds, 0);
  EXPECT_EQ(t.wDayOfWeek, 1);  // Monday
  // No local-to-UTC step: the fields as they are.
  EXPECT_EQ(FileTimeToU64(stamp), FileTimeToU64(Utc(2003, 2, 3, 9, 5, 7)));
  // A stamp read from a dated name compares with another read the same way.
  EXPECT_EQ(platform::CompareFileTime(ReadTimeStamp("10-1-2003_0.0.0"), stamp), 1);
  EXPECT_EQ(platform::CompareFileTime(ReadTimeStamp("2-3-2003_9.5.6"), stamp), -1);

  ReadTimeStamp("3-1-2004_0.0.0", &t);
  EXPECT_EQ(t.wDayOfWeek, 1);  // Monday, after a leap day

  // Unreadable stamps give zero fields, no crash, and no valid time.
  for (const char* bad : {"", "garbage", "_", "13-40-2003_99.99.99", "-5-x_..", "99999999999-1-1_1.1.1"}) {
    SCOPED_TRACE(bad);
    SYSTEMTIME u;
    const FILETIME ft = ReadTimeStamp(bad, &u);
    EXPECT_EQ(FileTimeToU64(ft), 0u);
    EXPECT_LT(u.wDayOfWeek, 7);
  }
}
