// The client goes away while a backup or a restore streams to it: the run
// goes on to its end, its report is saved whole, what it holds is given
// back and the next client is served.
#include <gtest/gtest.h>

#include "tests/faults/fault_host.h"
#include "tests/faults/streaming_client.h"

namespace faults {
namespace {

TEST(ClientGone, ABackupRunsToItsEndAndSavesItsReport) {
  FaultHost host(Shape(30, 32));
  ASSERT_TRUE(host.installed());
  ASSERT_TRUE(host.StartServer());
  ASSERT_TRUE(host.StartWorkload(300, 5));
  {
    StreamingClient client(host.port());
    DominoServerInfo server = client.Discover(kServer);
    host.SpaceBackups();
    client.StartBackup(server);
    std::string seen;
    ASSERT_TRUE(client.ReadUntil("Recording Domino changes", seen)) << seen;
    client.Vanish();
  }
  // The next client is served once the run is over; by then its report is in.
  std::vector<std::string> reports = host.Reports("backup");
  ASSERT_EQ(reports.size(), 1u);
  host.BackupEnded();
  const std::string report = host.Report("backup", reports[0]);
  EXPECT_TRUE(Has(report, "Domino backup mode stop completed\r\n")) << report;
  EXPECT_TRUE(Has(report, ": Backup Completed for Server: srv1/Org\r\n")) << report;
  EXPECT_TRUE(Has(host.ServerOutput(), "client went away")) << host.ServerOutput();
  ASSERT_EQ(host.Snapshots().size(), 1u);

  // The run gave everything back: the next backup goes through.
  ToolResult next = host.Backup();
  EXPECT_EQ(next.exitCode, 0) << next.out << next.err;
  EXPECT_EQ(host.Snapshots().size(), 2u);
  EXPECT_EQ(host.Reports("backup").size(), 2u);
}

TEST(ClientGone, ARestoreRunsToItsEndAndReleasesTheLock) {
  FaultHost host(Shape(30, 32));
  ASSERT_TRUE(host.installed());
  ASSERT_TRUE(host.StartServer());
  ASSERT_TRUE(host.StartWorkload(300, 9));
  ToolResult backup = host.Backup();
  ASSERT_EQ(backup.exitCode, 0) << backup.out << backup.err;
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  host.StopWorkload();
  const auto atStop = RolledForwardOnly(host.Digests());

  // arkctl is killed while the volume is being reverted.
  pid_t ctl = host.StartCtl({"restore", kServer, "recent", "--yes"});
  ASSERT_GT(ctl, 0);
  bool reverting = WaitFor([&] { return Has(ReadFile(host.CtlOutputPath()), "Restoring snapshot. Please wait..."); },
                           60000);
  ::kill(ctl, SIGKILL);
  ::waitpid(ctl, nullptr, 0);
  ASSERT_TRUE(reverting) << ReadFile(host.CtlOutputPath());

  std::vector<std::string> reports = host.Reports("restore");
  ASSERT_EQ(reports.size(), 1u);
  const std::string report = host.Report("restore", reports[0]);
  EXPECT_TRUE(Has(report, "Recovery COMPLETE \r\n")) << report;
  EXPECT_TRUE(Has(report, "SNAPSHOT RESTORE AND RECOVERY COMPLETE.\r\n")) << report;
  EXPECT_EQ(RolledForwardOnly(host.Digests()), atStop);

  // The operation lock went with the run: another restore takes it.
  ToolResult again = host.Restore("recent", false);
  EXPECT_EQ(again.exitCode, 0) << again.out << again.err;
  EXPECT_FALSE(Has(again.out, "in progress")) << again.out;
  EXPECT_EQ(RolledForwardOnly(host.Digests()), atStop);
}

}  // namespace
}  // namespace faults
