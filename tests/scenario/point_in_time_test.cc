// Point-in-time restores through arkserver and arkctl: the databases come
// back exactly as the backup saw them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/scenario/scenario_host.h"

namespace scenario {
namespace {

namespace fs = std::filesystem;

using PointInTime = BackendTest;

// With the server stopped during the backup, the state the backup saw is
// the state on disk: after later changes and a lost database, the restore
// gives back every database bit for bit, templates and unlogged ones too.
TEST_P(PointInTime, GivesBackEveryDatabaseAsTheBackupSawIt) {
  host_.StartServer(400, 1);
  ASSERT_TRUE(host_.AdvanceLog(3));
  host_.StopServer();
  Digests atBackup = host_.Digest();
  ASSERT_EQ(atBackup.exitCode, 0) << atBackup.text;
  ToolResult backup = host_.Backup();
  ASSERT_EQ(backup.exitCode, 0) << backup.out << backup.err;

  host_.StartServer(400, 2);
  ASSERT_TRUE(host_.AdvanceLog(3));
  host_.StopServer();
  Digests changed = host_.Digest();
  ASSERT_NE(changed.byPath, atBackup.byPath) << "the workload changed nothing";
  fs::remove(host_.DataDir() + "/names.nsf");
  std::map<std::string, std::string> logs;
  for (const std::string& name : FileNames(host_.LogDir())) {
    logs[name] = servicetest::ReadFile(host_.LogDir() + "/" + name);
  }

  ToolResult restore = host_.Restore("recent", true);
  ASSERT_EQ(restore.exitCode, 0) << restore.out << restore.err;
  EXPECT_TRUE(Has(restore.out, "Performing POINT IN TIME Domino recovery.")) << restore.out;
  EXPECT_FALSE(Has(restore.out, "Determining necessary logs")) << "a point-in-time restore needs no logs";

  Digests restored = host_.Digest();
  EXPECT_EQ(restored.exitCode, 0) << restored.text;
  EXPECT_EQ(restored.byPath, atBackup.byPath);
  // Nothing logged before the restore is lost, also when the log lies on the
  // reverted volume (the restore's own database writes are logged after it).
  for (const auto& [name, content] : logs) {
    if (name == "SIMLOG.CTL") continue;
    const std::string now = servicetest::ReadFile(host_.LogDir() + "/" + name);
    EXPECT_TRUE(now.compare(0, content.size(), content) == 0) << name << " lost what was logged before the restore";
  }
}

// A backup taken while the server writes: every restored database is
// sound (no page torn between the snapshot and the change information) and
// the volume went back behind the later writes. That the same kind of backup
// rolls forward to the live state is the up-to-the-minute test's part.
TEST_P(PointInTime, BackupTakenWhileTheServerWritesRestoresSound) {
  host_.StartServer(400, 3);
  ASSERT_TRUE(host_.AdvanceLog(3));
  ToolResult backup = host_.Backup();
  ASSERT_EQ(backup.exitCode, 0) << backup.out << backup.err;
  ASSERT_TRUE(host_.AdvanceLog(3));
  host_.StopServer();
  Digests live = host_.Digest();
  ASSERT_EQ(live.exitCode, 0) << live.text;

  ToolResult restore = host_.Restore("recent", true);
  ASSERT_EQ(restore.exitCode, 0) << restore.out << restore.err;
  Digests restored = host_.Digest();
  EXPECT_EQ(restored.exitCode, 0) << "a restored database is damaged:\n" << restored.text;
  ASSERT_EQ(restored.byPath.size(), live.byPath.size()) << restored.text;
  for (const auto& [path, hash] : restored.byPath) {
    EXPECT_EQ(live.byPath.count(path), 1u) << path;
    EXPECT_EQ(hash.size(), 64u) << path << ": " << hash;
  }
  EXPECT_NE(restored.byPath, live.byPath) << "the restore did not go back behind the later writes";
}

// A server whose name holds no "/" (CN=flat) has no common name; its
// ArkLedger directory and snapshot names carry its whole name, and it backs
// up and restores, point in time and up to the minute, as any other.
TEST(FlatServerName, BacksUpAndRestoresUnderItsWholeName) {
  ScenarioHost host;
  ASSERT_TRUE(host.Install());
  const std::string ini = host.HostPath(host.notesIni());
  std::string text = servicetest::ReadFile(ini);
  const std::string canonical = "CN=srv1/O=Org";
  const std::size_t at = text.find(canonical);
  ASSERT_NE(at, std::string::npos) << text;
  std::ofstream(ini, std::ios::binary | std::ios::trunc) << text.replace(at, canonical.size(), "CN=flat");

  Digests atBackup = host.Digest();
  ASSERT_EQ(atBackup.exitCode, 0) << atBackup.text;
  ToolResult backup = host.Ctl({"backup", "flat"});
  ASSERT_EQ(backup.exitCode, 0) << backup.out << backup.err;
  EXPECT_TRUE(Has(backup.out, "Backup Completed for Server: flat")) << backup.out;
  EXPECT_TRUE(fs::exists(host.HostPath("L:\\ArkLedger\\flat\\dominosnap__ARKHOST__FLAT__recent\\log_hint")));

  for (const bool pointInTime : {true, false}) {
    SCOPED_TRACE(pointInTime ? "point in time" : "up to the minute");
    fs::remove(host.DataDir() + "/names.nsf");
    std::vector<std::string> args{"restore", "flat", "recent", "--yes"};
    if (pointInTime) args.push_back("--point-in-time");
    ToolResult restore = host.Ctl(args);
    ASSERT_EQ(restore.exitCode, 0) << restore.out << restore.err;
    EXPECT_EQ(host.Digest().byPath, atBackup.byPath);
  }
}

INSTANTIATE_TEST_SUITE_P(Hosts, PointInTime, ::testing::ValuesIn(kHostVariants), VariantName);

}  // namespace
}  // namespace scenario
