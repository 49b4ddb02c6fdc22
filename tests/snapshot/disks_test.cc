// Disk listing during discovery.
#include "platform/files.h"
#include "platform/text.h"
#include "snapshot/disk_listing.h"
#include "tests/snapshot/snapshot_fixture.h"

namespace {

snapshot::DiskInfo Disk(const char16_t* path, const char16_t* device, std::vector<std::u16string> letters) {
  snapshot::DiskInfo disk;
  disk.diskPath = path;
  disk.devicePath = device;
  disk.driveLetters = std::move(letters);
  return disk;
}

DominoServerInfo Server(const std::string& name, const std::string& data, const std::string& logs) {
  DominoServerInfo server;
  server.commonName = name;
  server.dataDirectory = data;
  server.logDirectory = logs;
  return server;
}

std::string Volume(const VolumeRecord& v) {
  return std::string(1, char(v.driveLetter ? v.driveLetter : '-')) + " " + std::to_string(v.present) + " " +
         v.volumeName + " " + v.diskPath + " " + v.devicePath + " " + v.devicePathPart1 + " " + v.devicePathPart2;
}

}  // namespace

using SnapshotDisks = SnapshotHostTest;

TEST_F(SnapshotDisks, ServersMatchTheirDisksByDriveLetter) {
  fake().disks = {Disk(u"/vol_data/disk1", u"\\\\filer1\\vol_data\\disk1", {u"E", u"F:\\"}),
                  Disk(u"/vol_logs/disk2", u"\\\\filer1\\vol_logs", {u"L"})};
  DiscoveryResult result;
  // Data and logs on different disks; a lower-case data drive; a server on
  // a drive that no disk carries.
  result.servers = {Server("srv1", "e:\\data", "L:\\translog"), Server("srv2", "F:\\data2", ""),
                    Server("srv3", "Q:\\data", "Q:\\logs")};
  ASSERT_EQ(ListSnapshotsAndDisks(result), 0);
  EXPECT_EQ(Volume(result.servers[0].dataVolume), "E 1 vol_data vol_data/disk1 filer1\\vol_data\\disk1 filer1 vol_data");
  EXPECT_EQ(Volume(result.servers[0].logVolume), "L 1 vol_logs vol_logs/disk2 filer1\\vol_logs filer1 vol_logs");
  EXPECT_EQ(result.servers[1].dataVolume.driveLetter, u'F');
  EXPECT_EQ(result.servers[1].logVolume.present, 0);  // no log directory
  EXPECT_EQ(result.servers[2].dataVolume.present, 0);
  EXPECT_EQ(result.servers[2].dataVolume.volumeName, "");

  ASSERT_EQ(result.disks.size(), 2u);
  const DiskTableEntry& first = result.disks.at("vol_data");
  EXPECT_EQ(first.driveLetters, (std::vector<std::string>{"E", "F"}));
  ASSERT_EQ(first.servers.size(), 3u);  // every server, matched or not
  EXPECT_EQ(first.servers[0].dataVolume.volumeName, "vol_data");
  EXPECT_EQ(first.servers[0].logVolume.present, 0);  // its log disk came later
  EXPECT_EQ(result.disks.at("vol_logs").servers[0].logVolume.volumeName, "vol_logs");
}

TEST_F(SnapshotDisks, NoComponentOrNoListLeavesServersWithoutVolumes) {
  DiscoveryResult result;
  result.servers = {Server("srv1", "E:\\data", "E:\\logs")};
  fake().disks = {Disk(u"/vol_data/disk1", u"\\\\filer1\\x", {u"E"})};
  component_.Uninstall();
  EXPECT_FALSE(IsSnapshotComponentInstalled());
  EXPECT_EQ(ListSnapshotsAndDisks(result), -1);
  EXPECT_TRUE(result.disks.empty());
  EXPECT_EQ(result.servers[0].dataVolume.present, 0);

  component_.Install();
  EXPECT_TRUE(IsSnapshotComponentInstalled());
  fake().listDisksResult = E_FAIL;
  EXPECT_EQ(ListSnapshotsAndDisks(result), -1);
  fake().listDisksResult = S_FALSE;  // not exactly S_OK: no list to read
  EXPECT_EQ(ListSnapshotsAndDisks(result), 0);
  EXPECT_TRUE(result.disks.empty());

  // Odd paths from the component do not break the listing.
  fake().listDisksResult = S_OK;
  fake().disks = {Disk(u"", u"", {u"", u"E"}), Disk(u"/only", u"\\", {})};
  EXPECT_EQ(ListSnapshotsAndDisks(result), 0);
  EXPECT_EQ(result.servers[0].dataVolume.present, 1);
  EXPECT_EQ(result.servers[0].dataVolume.devicePath, "");
  EXPECT_EQ(result.disks.count("only"), 1u);

  // Hint files are loaded for every server; a missing one is created empty.
  fake().Add(u'E', Recent("SRV1"), Utc(2003, 2, 3, 14, 5, 7));
  WriteHostFile(Ledger("hint"), Recent("SRV1") + "\n");
  std::vector<DominoServerInfo> servers = {server_, server_};
  servers[1].commonName = "srv2";
  LoadAllSnapshotHints(servers);
  ASSERT_EQ(servers[0].snapshots.size(), 1u);
  EXPECT_EQ(servers[0].snapshots[0].name, Recent("SRV1"));
  EXPECT_TRUE(servers[1].snapshots.empty());
  EXPECT_TRUE(fs::exists(host_.Drive('E', "ledger/srv2/hint")));
}
