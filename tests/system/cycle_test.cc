// The whole cycle under load, on each kind of host: backups while the server
// writes, an up-to-the-minute restore that rolls an older backup forward to
// the live state, point-in-time restores that go back behind later writes
// and give back a quiet backup bit for bit; discovery on the wire beside it.
#include <fstream>

#include "net/wire.h"
#include "net/wire_records.h"
#include "platform/text.h"
#include "tests/system/system_host.h"

namespace ark::systest {
namespace {

struct HostVariant {
  const char *name, *backend, *translogPath;  // "absolute": the logs on E:; "relative": below the data directory
};
void PrintTo(const HostVariant& variant, std::ostream* os) { *os << variant.name; }

class SystemCycle : public ::testing::TestWithParam<HostVariant> {};

// DiscoverServers (code 6): the exact leading bytes, then a record per
// server with its volumes and the snapshots its hint file names.
void ExpectDiscoveryOnTheWire(const SystemHost& host) {
  StreamingClient client(host.port());
  SendByte(client.get(), 6);
  EXPECT_EQ(ReadRaw(client.get(), 14), Bytes({1, 4, 0, 0, 0}) + "cont" + Bytes({2, 0, 0, 0, 1}));
  EXPECT_EQ(RecvString(client.get()), "ARKHOST");
  std::vector<DominoServerInfo> servers(2);
  for (DominoServerInfo& server : servers) RecvDominoServerInfo(client.get(), server);
  const DominoServerInfo& s = servers[0];
  EXPECT_EQ(s.serverName + " " + s.loggingStyleText + std::to_string(s.archiveLogging) + " " +
                std::to_string(s.dataVolume.present) + char(s.dataVolume.driveLetter) + char(s.logVolume.driveLetter) +
                " " + s.dataVolume.volumeName + (s.dataVolume.devicePathPart1.empty() ? " no device" : ""),
            "srv1/Org Archive1 1D" + host.LogDirectory().substr(0, 1) + " vol_data");
  ASSERT_EQ(servers[0].snapshots.size(), 1u);
  EXPECT_TRUE(platform::EqualsNoCase(servers[0].snapshots[0].name, "dominosnap__ARKHOST__SRV1__recent"))
      << servers[0].snapshots[0].name;
  EXPECT_FALSE(servers[0].snapshots[0].displayText.Get().empty());
}

TEST_P(SystemCycle, BackupsUnderLoadRestoreUpToTheMinuteAndToTheirPointInTime) {
  SystemHost host;
  std::string why;
  if (std::string(GetParam().backend) == "btrfs" && !host.UseBtrfs(&why)) GTEST_SKIP() << "btrfs skipped: " << why;
  // Two partitions on D: (discovery lists both; a revert takes the other's
  // data too); large log extents, as each log a restore needs counts 64 MB
  // against the log drive's free space.
  // D: a file system of its own (a mount point): reverted inside itself.
  const bool mounted = std::string(GetParam().name) == "dir_drive_mounted";
  std::string skip;
  ASSERT_TRUE(host.Install({.backend = GetParam().backend, .partitions = 2, .databases = 8, .unlogged = 1,
                            .logExtentKib = 512, .sizeMib = "0.5", .translogPath = GetParam().translogPath,
                            .launcher = {}, .ledgerBytes = 0, .dataBytes = mounted ? 256u << 20 : 0}, &skip));
  if (!skip.empty()) GTEST_SKIP() << "mounted drive skipped: " << skip;

  // A: the server stopped, so the backup saw exactly the state on disk.
  ASSERT_TRUE(host.StartWorkload(200, 1, 2));
  host.StopWorkload();
  const Digests atA = host.Digest();
  ASSERT_EQ(host.Backup().exitCode, 0);
  const Snapshot snapA = host.Snapshots().at(0);
  ExpectDiscoveryOnTheWire(host);

  // B and C while the server writes; C archives the logs written since B.
  ASSERT_TRUE(host.StartWorkload(200, 2, 2));
  ASSERT_EQ(host.Backup().exitCode, 0);
  const Snapshot snapB = host.Snapshots().at(0);
  ASSERT_TRUE(host.AdvanceLog(4));
  ASSERT_TRUE(Ok(host.Backup(), {"Archiving "}));
  ASSERT_TRUE(host.AdvanceLog(4));
  host.StopWorkload();

  const std::string older = host.NameOf(snapB);
  ASSERT_FALSE(older.empty()) << host.Ctl({"snapshots", host.server}).out;
  const std::set<std::string> unlogged = host.Unlogged(older);
  const Digests live = host.Digest();
  const Digests expected = RolledForwardOnly(live, unlogged);
  ASSERT_GE(expected.size(), 3u);
  const std::vector<std::string> logs = FileNames(host.LogDir());

  // Damage: one database gone, one with a page overwritten.
  std::filesystem::remove(host.DataDir() + "/names.nsf");
  std::fstream(host.DataDir() + "/mail.box", std::ios::binary | std::ios::in | std::ios::out).seekp(8292) << "overwritten";
  ASSERT_NE(host.Sim("digest").exitCode, 0) << "the damage is not visible";

  // Saved logs copied in; logs on the data volume kept across its revert;
  // the other partition's data on the same volume named before the revert.
  const Result utm = host.Restore(older, false);
  ASSERT_TRUE(Ok(utm, {"Copying log file : S", "WARNING: The revert of drive D: also takes the data directories of "
                                               "other Domino servers back to the snapshot:\r\n  D:\\Domino\\Data2\r\n",
                       "SNAPSHOT RESTORE AND RECOVERY COMPLETE."}));
  EXPECT_EQ(Has(utm.out, "active log files of " + host.LogDirectory() + " across the revert\r\n"),
            std::string(GetParam().translogPath) == "relative") << utm.out;
  EXPECT_FALSE(std::filesystem::exists(host.HostPath("L:\\ArkLedger\\$kept_logs\\srv1")));
  const Digests rolled = host.Digest();  // every database sound
  EXPECT_EQ(RolledForwardOnly(rolled, unlogged), expected);
  EXPECT_EQ(rolled.size(), live.size());
  EXPECT_EQ(FileNames(host.LogDir()), logs) << "the saved logs copied in for the recovery stay";

  // B to its point in time: every database sound (no page torn between the
  // snapshot and the change information), behind the later writes.
  ASSERT_TRUE(Ok(host.Restore(older, true)));
  const Digests atB = host.Digest();
  EXPECT_EQ(atB.size(), live.size());
  EXPECT_NE(atB, live) << "the restore did not go back behind the later writes";

  // A to its point in time: bit for bit, templates and unlogged ones too; no
  // log needed and nothing logged before the restore lost, also when the log
  // lies on the reverted volume.
  std::map<std::string, std::string> logBytes;
  for (const std::string& name : FileNames(host.LogDir())) logBytes[name] = ReadHostFile(host.LogDir() + "/" + name);
  ASSERT_TRUE(Ok(host.Restore(host.NameOf(snapA), true), {"Performing POINT IN TIME Domino recovery."},
                 {"Determining necessary logs"}));
  EXPECT_EQ(host.Digest(), atA);
  for (const auto& [name, bytes] : logBytes) {
    EXPECT_TRUE(name == "SIMLOG.CTL" || ReadHostFile(host.LogDir() + "/" + name).starts_with(bytes)) << name;
  }
}

const HostVariant kVariants[] = {
    {"dir", "dir", "absolute"},
    {"btrfs", "btrfs", "absolute"},
    {"dir_logs_on_data_volume", "dir", "relative"},
    {"dir_drive_mounted", "dir", "absolute"},
};
INSTANTIATE_TEST_SUITE_P(Backends, SystemCycle, ::testing::ValuesIn(kVariants),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ark::systest
