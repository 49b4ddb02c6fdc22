// Snapshot names and times, the hint file and the disk listing of discovery.
#include "platform/text.h"
#include "snapshot/disk_listing.h"
#include "snapshot/snapshot_hints.h"
#include "snapshot/snapshot_names.h"
#include "tests/snapshot/snapshot_fixture.h"
#include "tests/support/server_record.h"

namespace ark {

using SnapshotNames = SnapshotHostTest;
using SnapshotHints = SnapshotHostTest;
using SnapshotDisks = SnapshotHostTest;
using Disk = snapshot::DiskInfo;
using platform::ToLowerAnsi;
using platform::ToUpperAnsi;

namespace {

std::vector<std::string> NamesOf(const DominoServerInfo& server) {
  std::vector<std::string> names;
  for (const SnapshotEntry& e : server.snapshots) names.push_back(e.name);
  return names;
}

const char* const kHint = "E:\\ledger\\srv1\\hint";

std::string Volume(const VolumeRecord& v) {
  return std::string(1, char(v.driveLetter ? v.driveLetter : '-')) + " " + std::to_string(v.present) + " " +
         v.volumeName + " " + v.diskPath + " " + v.devicePath + " " + v.devicePathPart1 + " " + v.devicePathPart2;
}

}  // namespace

TEST_F(SnapshotNames, RecentDatedPrefixEntryTextsAndStampReadBack) {
  // 14:05:07 UTC is 09:05:07 local (five hours behind).
  const FILETIME created = Utc(2003, 2, 3, 14, 5, 7);
  const std::string recent = platform::WideToAnsi(MakeRecentSnapshotName("srv1"));
  const std::u16string dated = MakeDatedSnapshotName("srv1", created);
  EXPECT_EQ(recent, "dominosnap__HOST1__SRV1__recent");
  EXPECT_EQ(platform::WideToAnsi(dated), "dominosnap__HOST1__srv1__2-3-2003_9.5.7");
  // Local time across the turn of the year, hour 23.
  EXPECT_EQ(platform::WideToAnsi(MakeDatedSnapshotName("a", Utc(2004, 1, 1, 4, 59, 59))),
            "dominosnap__HOST1__a__12-31-2003_23.59.59");

  std::string prefix;
  MakeSnapshotNamePrefix("srv1", prefix);
  EXPECT_TRUE(SnapshotNameHasPrefix(prefix, recent));
  EXPECT_TRUE(SnapshotNameHasPrefix(prefix, platform::WideToAnsi(dated)));
  EXPECT_FALSE(SnapshotNameHasPrefix(prefix, "dominosnap__HOST1__srv"));
  EXPECT_FALSE(SnapshotNameHasPrefix(prefix, "dominosnap__HOST2__srv1__recent"));

  const SnapshotEntry entry = MakeSnapshotEntry(dated, created);
  EXPECT_EQ(entry.dateText.Get() + " " + entry.timeText.Get() + " " + entry.stampText.Get() + " " +
                entry.displayText.Get(),
            "2-3-2003 9:5:7 2-3-2003_9.5.7 2/3/2003 9:5:00");
  EXPECT_EQ(entry.componentName.Get(), dated.substr(0, 31));
  EXPECT_EQ(entry.componentValue1, created.dwLowDateTime);
  EXPECT_EQ(entry.componentValue2, created.dwHighDateTime);
  // A name longer than the entry's text keeps its first 255 bytes.
  EXPECT_EQ(MakeSnapshotEntry(std::u16string(300, u'x'), created).nameText.Get(), std::string(255, 'x'));

  // A stamp read back.
  SYSTEMTIME t;
  const FILETIME stamp = ReadTimeStamp("2-3-2003_9.5.7", &t);
  EXPECT_EQ(std::vector<int>({t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds,
                              t.wDayOfWeek}),
            std::vector<int>({2003, 2, 3, 9, 5, 7, 0, 1}));  // a Monday
  // No local-to-UTC step: the fields as they are.
  EXPECT_EQ(FileTimeToU64(stamp), FileTimeToU64(Utc(2003, 2, 3, 9, 5, 7)));
  ReadTimeStamp("3-1-2004_0.0.0", &t);
  EXPECT_EQ(t.wDayOfWeek, 1);  // Monday, after a leap day

  // Unreadable stamps give zero fields, no crash, and no valid time.
  for (const char* bad : {"", "garbage", "_", "13-40-2003_99.99.99", "-5-x_..", "99999999999-1-1_1.1.1"}) {
    SYSTEMTIME u;
    EXPECT_EQ(FileTimeToU64(ReadTimeStamp(bad, &u)), 0u) << bad;
    EXPECT_LT(u.wDayOfWeek, 7) << bad;
  }
}

TEST_F(SnapshotHints, LoadMatchesVolumeSaveRewritesUpperCasedOnceAndBadInputsFail) {
  const std::string october = Dated("srv1", "10-5-2003_8.0.0");
  const std::string february = Dated("srv1", "2-3-2003_9.5.7");
  fake().Add(u'E', Recent("SRV1"), Utc(2003, 11, 1, 12, 0, 0));
  fake().Add(u'E', october, Utc(2003, 10, 5, 13, 0, 0));
  fake().Add(u'E', february, Utc(2003, 2, 3, 14, 5, 7));
  fake().Add(u'E', Dated("srv1", "1-1-2003_1.1.1"), Utc(2003, 1, 1, 6, 1, 1));  // not in the file
  // Repeats, another letter case, a blank line in the middle, a "\r\n"
  // line end, and a name that is no longer on the volume.
  WriteHostFile(Ledger("hint"), ToLowerAnsi(february) + "\n" + Recent("SRV1") + "\n\n" + october + "\r\n" + october + "\n" +
                                    Dated("srv1", "5-5-2002_1.2.3") + "\n" + Recent("SRV1") + "\n");

  ASSERT_EQ(LoadSnapshotHints(kHint, server_), 0);
  // Byte order of the names as the file holds them: upper case before lower
  // case, October ("10-") before February ("2-").
  ASSERT_EQ(NamesOf(server_), (std::vector<std::string>{Recent("SRV1"), october, ToLowerAnsi(february)}));
  // The entries carry the volume's facts for the names.
  EXPECT_EQ(server_.snapshots[1].stampText.Get(), "10-5-2003_8.0.0");
  EXPECT_EQ(server_.snapshots[2].displayText.Get(), "2/3/2003 9:5:00");
  EXPECT_EQ(server_.snapshots[2].nameText.Get(), ToLowerAnsi(february));

  server_.snapshots.push_back(SnapshotEntry{});
  server_.snapshots.push_back(server_.snapshots[0]);
  ASSERT_EQ(SaveSnapshotHints(kHint, server_), 0);
  EXPECT_EQ(ReadHostFile(Ledger("hint")), ToUpperAnsi(Recent("SRV1") + "\n" + october + "\n" + february + "\n"));
  // Read back: the dated names sort before the recent one now that all are
  // upper case, and October still before February.
  ASSERT_EQ(LoadSnapshotHints(kHint, server_), 0);
  EXPECT_EQ(NamesOf(server_), (std::vector<std::string>{ToUpperAnsi(october), ToUpperAnsi(february), ToUpperAnsi(Recent("SRV1"))}));

  // A missing file and its directories are created empty.
  ASSERT_EQ(LoadSnapshotHints("E:\\ledger\\new\\deeper\\hint", server_), 0);
  EXPECT_TRUE(server_.snapshots.empty());
  EXPECT_TRUE(fs::is_regular_file(host_.Drive('E', "ledger/new/deeper/hint")));
  // No path, or a path on a drive that does not exist: -1.
  for (const char* path : {"", "Q:\\ledger\\hint"}) {
    EXPECT_EQ(LoadSnapshotHints(path, server_), -1) << path;
    EXPECT_EQ(SaveSnapshotHints(path, server_), -1) << path;
  }
  // The component cannot list the volume, or is not there: the load fails
  // and the file keeps its names for the next time.
  WriteHostFile(Ledger("hint"), Recent("SRV1") + "\n");
  fake().enumerateResult = E_FAIL;
  EXPECT_EQ(LoadSnapshotHints(kHint, server_), -1);
  component_.Uninstall();
  EXPECT_EQ(LoadSnapshotHints(kHint, server_), -1);
  EXPECT_EQ(ReadHostFile(Ledger("hint")), Recent("SRV1") + "\n");
}

TEST_F(SnapshotDisks, ServersMatchTheirDisksByDriveLetterOrGetNoVolume) {
  fake().disks = {Disk{u"/vol_data/disk1", u"\\\\filer1\\vol_data\\disk1", {u"E", u"F:\\"}},
                  Disk{u"/vol_logs/disk2", u"\\\\filer1\\vol_logs", {u"L"}}};
  DiscoveryResult result;
  // Data and logs on different disks; a lower-case data drive; a server on
  // a drive that no disk carries.
  result.servers = {ServerRecord("srv1", "e:\\data", "L:\\translog"), ServerRecord("srv2", "F:\\data2"),
                    ServerRecord("srv3", "Q:\\data", "Q:\\logs")};
  ASSERT_EQ(ListSnapshotsAndDisks(result), 0);
  EXPECT_EQ(Volume(result.servers[0].dataVolume), "E 1 vol_data vol_data/disk1 filer1\\vol_data\\disk1 filer1 vol_data");
  EXPECT_EQ(Volume(result.servers[0].logVolume), "L 1 vol_logs vol_logs/disk2 filer1\\vol_logs filer1 vol_logs");
  EXPECT_EQ(result.servers[1].dataVolume.driveLetter, u'F');
  EXPECT_EQ(result.servers[1].logVolume.present, 0);  // no log directory
  EXPECT_EQ(result.servers[2].dataVolume.present, 0);
  EXPECT_EQ(result.servers[2].dataVolume.volumeName, "");

  // No component or no list leaves the servers without volumes.
  result = DiscoveryResult{};
  result.servers = {ServerRecord("srv1", "E:\\data", "E:\\logs")};
  fake().disks = {Disk{u"/vol_data/disk1", u"\\\\filer1\\x", {u"E"}}};
  component_.Uninstall();
  EXPECT_FALSE(IsSnapshotComponentInstalled());
  EXPECT_EQ(ListSnapshotsAndDisks(result), -1);
  EXPECT_EQ(result.servers[0].dataVolume.present, 0);

  component_.Install();
  fake().listDisksResult = E_FAIL;
  EXPECT_EQ(ListSnapshotsAndDisks(result), -1);
  fake().listDisksResult = S_FALSE;  // not exactly S_OK: no list to read
  EXPECT_EQ(ListSnapshotsAndDisks(result), 0);
  EXPECT_TRUE(result.disks.empty());

  // Odd paths from the component do not break the listing.
  fake().listDisksResult = S_OK;
  fake().disks = {Disk{u"", u"", {u"", u"E"}}, Disk{u"/only", u"\\", {}}};
  EXPECT_EQ(ListSnapshotsAndDisks(result), 0);
  EXPECT_EQ(result.servers[0].dataVolume.present, 1);
  EXPECT_EQ(result.servers[0].dataVolume.devicePath, "");
}

}  // namespace ark
