// arkserver killed outright in the middle of a backup, while the server
// writes: nothing stays held, no half-made snapshot is listed, and the next
// backup is whole (a restore from it gives back every database).
#include <gtest/gtest.h>

#include "tests/faults/fault_host.h"
#include "tests/faults/streaming_client.h"

namespace faults {
namespace {

TEST(ServerKilled, InTheMiddleOfABackupTheNextBackupIsWholeAndNothingStaysHeld) {
  // Enough data that the snapshot copy takes a while after backup mode starts.
  FaultHost host(Shape(40, 48));
  ASSERT_TRUE(host.installed());
  ASSERT_TRUE(host.StartServer());
  const auto before = host.Digests();
  ToolResult first = host.Backup();
  ASSERT_EQ(first.exitCode, 0) << first.out << first.err;
  const std::vector<FaultHost::Snapshot> earlier = host.Snapshots();
  ASSERT_EQ(earlier.size(), 1u);

  ASSERT_TRUE(host.StartWorkload(400, 3));
  {
    StreamingClient client(host.port());
    DominoServerInfo server = client.Discover(kServer);
    host.SpaceBackups();
    client.StartBackup(server);
    std::string seen;
    ASSERT_TRUE(client.ReadUntil("Recording Domino changes", seen)) << seen;
    host.KillServer();
    host.BackupEnded();
  }

  // The dead service's backup mode is given up: another process can start one.
  EXPECT_EQ(DatabasesHeldInBackup(host), std::vector<std::string>{});

  ASSERT_TRUE(host.StartServer());
  // Listed: the earlier snapshot (under its recent or its dated name) and at
  // most one finished snapshot of the killed run, never a half-made one.
  std::vector<FaultHost::Snapshot> afterKill = host.Snapshots();
  EXPECT_LE(afterKill.size(), 2u);
  EXPECT_NE(host.SnapshotNameWithStamp(earlier[0].stamp), "");

  ToolResult next = host.Backup();
  EXPECT_EQ(next.exitCode, 0) << next.out << next.err;
  EXPECT_TRUE(Has(next.out, "Backup Completed for Server: srv1/Org")) << next.out;
  host.StopWorkload();
  const auto atStop = host.Digests();

  // The next backup is whole: up to the minute gives back every database
  // that recovery rolls forward.
  ToolResult upToTheMinute = host.Restore("recent", false);
  ASSERT_EQ(upToTheMinute.exitCode, 0) << upToTheMinute.out << upToTheMinute.err;
  EXPECT_EQ(RolledForwardOnly(host.Digests()), RolledForwardOnly(atStop));

  // The earlier snapshot is intact: its point in time is the host as it was.
  const std::string earlierName = host.SnapshotNameWithStamp(earlier[0].stamp);
  ASSERT_NE(earlierName, "");
  ToolResult pointInTime = host.Restore(earlierName, true);
  ASSERT_EQ(pointInTime.exitCode, 0) << pointInTime.out << pointInTime.err;
  EXPECT_EQ(host.Digests(), before);
}

}  // namespace
}  // namespace faults
