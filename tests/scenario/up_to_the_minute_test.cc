// Up-to-the-minute restore through arkserver and arkctl: an older backup,
// the logs saved beside later ones and the live log bring every logged
// database back to the last committed state after the data was damaged.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/scenario/scenario_host.h"

namespace scenario {
namespace {

namespace fs = std::filesystem;

// Large extents and a modest rate: the logs written while the test runs
// grow with the time it takes on a loaded machine, and each log a restore
// needs counts 64 MB against the log drive's free space.
class UpToTheMinute : public BackendTest {
 protected:
  UpToTheMinute() { logExtentKib_ = 512; }
};

void Overwrite(const std::string& path, std::uint64_t offset, const std::string& bytes) {
  std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
  file.seekp(static_cast<std::streamoff>(offset));
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

TEST_P(UpToTheMinute, RollsTheOlderBackupForwardToTheLastCommittedState) {
  host_.StartServer(100, 4);
  ASSERT_TRUE(host_.AdvanceLog(3));
  ToolResult first = host_.Backup();
  ASSERT_EQ(first.exitCode, 0) << first.out << first.err;
  ASSERT_TRUE(host_.AdvanceLog(5));
  ToolResult second = host_.Backup();  // archives the logs written since the first
  ASSERT_EQ(second.exitCode, 0) << second.out << second.err;
  ASSERT_TRUE(Has(second.out, "Archiving ")) << second.out;
  ASSERT_TRUE(host_.AdvanceLog(5));
  host_.StopServer();

  const std::string older = host_.OlderSnapshot();
  ASSERT_FALSE(older.empty()) << host_.Ctl({"snapshots", kServer}).out;
  const std::set<std::string> unlogged = host_.Unlogged(older);
  Digests live = host_.Digest();
  ASSERT_EQ(live.exitCode, 0) << live.text;
  const std::map<std::string, std::string> expected = RolledForwardOnly(live, unlogged);
  ASSERT_GE(expected.size(), 3u) << live.text;
  const std::vector<std::string> logs = FileNames(host_.LogDir());

  // Damage: one database gone, one with a page overwritten.
  fs::remove(host_.DataDir() + "/names.nsf");
  Overwrite(host_.DataDir() + "/mail.box", 2 * 4096 + 100, "overwritten by accident");
  ASSERT_NE(host_.Digest().exitCode, 0) << "the damage is not visible";

  ToolResult restore = host_.Restore(older, false);
  ASSERT_EQ(restore.exitCode, 0) << restore.out << restore.err;
  EXPECT_TRUE(Has(restore.out, "Copying log file : S")) << "no saved log was needed:\n" << restore.out;
  EXPECT_FALSE(Has(restore.out, "already exists in active log directory")) << restore.out;
  // Logs on the data volume are kept across its revert, and their copies go.
  EXPECT_EQ(Has(restore.out, "active log files of " + host_.LogDirectory() + " across the revert\r\n"),
            std::string(GetParam().translogPath) == "relative")
      << restore.out;
  EXPECT_FALSE(fs::exists(host_.HostPath("L:\\ArkLedger\\$kept_logs\\srv1")));
  // The other partition's data lies on the same volume: named before the revert.
  EXPECT_TRUE(Has(restore.out, "WARNING: The revert of drive D: also takes the data directories of other Domino "
                               "servers back to the snapshot:\r\n  D:\\Domino\\Data2\r\n"))
      << restore.out;

  Digests restored = host_.Digest();
  EXPECT_EQ(restored.exitCode, 0) << restored.text;
  EXPECT_EQ(RolledForwardOnly(restored, unlogged), expected);
  EXPECT_EQ(restored.byPath.size(), live.byPath.size()) << restored.text;
  // The saved logs copied in for the recovery are gone again.
  EXPECT_EQ(FileNames(host_.LogDir()), logs);

  std::vector<std::string> reports = host_.Reports("restore");
  ASSERT_EQ(reports.size(), 1u);
  std::string report = host_.Report("restore", reports.front());
  EXPECT_TRUE(Has(report, kRestoreComplete)) << report;
  EXPECT_TRUE(Has(report, "Performing UP TO THE MINUTE Domino recovery.")) << report;
}

INSTANTIATE_TEST_SUITE_P(Hosts, UpToTheMinute, ::testing::ValuesIn(kHostVariants), VariantName);

}  // namespace
}  // namespace scenario
