// The snapshot component fails at create, rename and restore: the run says
// so clearly and fails, what it held is given back (the next run with the
// fault gone succeeds), and the earlier snapshots stay listed and restorable.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "tests/faults/fault_host.h"

namespace faults {
namespace {

std::set<std::string> FileNames(const std::string& dir) {
  std::set<std::string> names;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ignored)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

class SnapshotComponentFails : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(host_.installed());
    ASSERT_TRUE(host_.StartServer());
    before_ = host_.Digests();
    ToolResult first = host_.Backup();
    ASSERT_EQ(first.exitCode, 0) << first.out << first.err;
    std::vector<FaultHost::Snapshot> listed = host_.Snapshots();
    ASSERT_EQ(listed.size(), 1u);
    first_ = listed[0];
  }

  // The first snapshot, under whatever name it has now, brings back the host
  // as it was when it was taken.
  void ExpectFirstSnapshotRestorable() {
    const std::string name = host_.SnapshotNameWithStamp(first_.stamp);
    ASSERT_NE(name, "") << "the first snapshot is no longer listed";
    ToolResult restored = host_.Restore(name, true);
    ASSERT_EQ(restored.exitCode, 0) << restored.out << restored.err;
    EXPECT_EQ(host_.Digests(), before_);
  }

  void ExpectLastReportHolds(const std::string& type, const std::string& text) {
    std::vector<std::string> reports = host_.Reports(type);
    ASSERT_FALSE(reports.empty());
    std::string report = host_.Report(type, reports.back());
    EXPECT_TRUE(Has(report, text)) << report;
  }

  FaultHost host_{Shape(10, 4)};
  std::map<std::string, std::string> before_;
  FaultHost::Snapshot first_;
};

TEST_F(SnapshotComponentFails, AtCreate) {
  ASSERT_TRUE(host_.StartWorkload(200, 4));
  host_.SetFailOn("create");
  ToolResult failed = host_.Backup();
  EXPECT_NE(failed.exitCode, 0);
  const std::string expected =
      "ERROR: Could not create snapshot\r\nBackup Aborted.\r\n"
      "Failed to create snapshot (CreateSnapShot method failed).\r\nUnspecified error\r\n";
  EXPECT_TRUE(Has(failed.out, expected)) << failed.out;
  EXPECT_TRUE(Has(failed.out, "FAILED Backup/Snapshot for srv1/Org \r\nERROR: Snapshot failed on vol_data.\r\n"))
      << failed.out;
  EXPECT_FALSE(Has(failed.out, "Backup Completed")) << failed.out;
  ExpectLastReportHolds("backup", expected);
  // No new snapshot; the earlier one already carries its dated name.
  std::vector<FaultHost::Snapshot> listed = host_.Snapshots();
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].stamp, first_.stamp);

  host_.SetFailOn("");
  ToolResult next = host_.Backup();
  EXPECT_EQ(next.exitCode, 0) << next.out << next.err;
  EXPECT_EQ(host_.Snapshots().size(), 2u);
  host_.StopWorkload();
  const auto atStop = RolledForwardOnly(host_.Digests());
  ToolResult latest = host_.Restore("recent", false);
  ASSERT_EQ(latest.exitCode, 0) << latest.out << latest.err;
  EXPECT_EQ(RolledForwardOnly(host_.Digests()), atStop);
  ExpectFirstSnapshotRestorable();
}

TEST_F(SnapshotComponentFails, AtRename) {
  host_.SetFailOn("rename");
  ToolResult failed = host_.Backup();
  EXPECT_NE(failed.exitCode, 0);
  EXPECT_TRUE(Has(failed.out, "ERROR: Could not rename snapshot to .dominosnap__ARKHOST__srv1__")) << failed.out;
  EXPECT_FALSE(Has(failed.out, "Placing Domino server in backup mode")) << failed.out;
  EXPECT_TRUE(Has(failed.out, "ERROR: Snapshot failed on vol_data.\r\n")) << failed.out;
  // The earlier snapshot keeps its recent name and its change information.
  std::vector<FaultHost::Snapshot> listed = host_.Snapshots();
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].name, first_.name);
  ToolResult verified = host_.Ctl({"verify", kServer});
  EXPECT_EQ(verified.exitCode, 0) << verified.out << verified.err;

  host_.SetFailOn("");
  ToolResult next = host_.Backup();
  EXPECT_EQ(next.exitCode, 0) << next.out << next.err;
  EXPECT_EQ(host_.Snapshots().size(), 2u);
  ExpectFirstSnapshotRestorable();
}

TEST_F(SnapshotComponentFails, AtRestoreTheVolumeIsUntouchedAndTheLockFree) {
  ASSERT_TRUE(host_.StartWorkload(300, 6));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  host_.StopWorkload();
  const auto now = host_.Digests();
  const std::string logDir = host_.VolumeDir('E') + "/Logs";
  const std::set<std::string> logsBefore = FileNames(logDir);

  host_.SetFailOn("restore");
  for (bool pointInTime : {false, true}) {
    ToolResult failed = host_.Restore("recent", pointInTime);
    EXPECT_NE(failed.exitCode, 0);
    EXPECT_TRUE(Has(failed.out, "Unspecified error")) << failed.out;
    EXPECT_FALSE(Has(failed.out, "Snapshot restored.")) << failed.out;
    EXPECT_FALSE(Has(failed.out, "RESTORE AND RECOVERY COMPLETE")) << failed.out;
    ExpectLastReportHolds("restore", "Unspecified error");
    // Nothing was reverted, and the logs copied for the roll-forward are gone.
    EXPECT_EQ(host_.Digests(), now);
    EXPECT_EQ(FileNames(logDir), logsBefore);
  }

  host_.SetFailOn("");
  ToolResult restored = host_.Restore("recent", false);
  EXPECT_EQ(restored.exitCode, 0) << restored.out << restored.err;
  EXPECT_EQ(RolledForwardOnly(host_.Digests()), RolledForwardOnly(now));
  ExpectFirstSnapshotRestorable();
}

}  // namespace
}  // namespace faults
