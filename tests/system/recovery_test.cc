// Failures in the middle of a run: the snapshot component failing, the
// service killed, the client gone, the ArkLedger volume full. Each row says
// what its failure must say and leave; then the same tail for every row: with
// the failure gone nothing stays held, the next backup succeeds, and the
// first snapshot restores up to the minute to the live state and to its
// point in time to the host as it was.
#include <filesystem>
#include <functional>

#include "tests/system/system_host.h"

namespace ark::systest {
namespace {

struct Row {
  const char* name;
  std::function<void(SystemHost&, const Snapshot& first)> fail;  // the failure and what it says
};
void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

class SystemRecovery : public ::testing::TestWithParam<Row> {};

// Walks away from a backup while the server writes (or kills the service)
// once its databases are being put into backup mode, or from a restore of
// the first snapshot discovery lists once the volume is being reverted.
void Interrupt(SystemHost& host, bool restore, bool killService = false) {
  ASSERT_TRUE(restore || host.StartWorkload(400, 3));
  std::string seen;
  StreamingClient client(host.port());
  const DominoServerInfo server = client.Discover(host.server);
  host.SpaceBackups();
  restore ? client.StartRestore(server, server.snapshots.at(0), false) : client.StartBackup(server);
  ASSERT_TRUE(client.ReadUntil(restore ? "Restoring snapshot. Please wait..." : "Recording Domino changes", seen))
      << seen;
  if (killService) host.KillService();
  client.Vanish();
  host.BackupEnded();
}

// A run that fails and says so: its exit code, what it says and never says.
void Failed(const Result& run, const std::vector<std::string>& says, const std::vector<std::string>& never = {}) {
  EXPECT_NE(run.exitCode, 0);
  EXPECT_TRUE(Says(run.out, says, never));
}

const Row kRows[] = {
    {"ComponentFailsAtCreate", [](SystemHost& host, const Snapshot& first) {
      ASSERT_TRUE(host.StartWorkload(200, 4));
      host.SetFailOn("create");
      Failed(host.Backup(), {"ERROR: Could not create snapshot\r\n", "Unspecified error\r\n"}, {"Backup Completed"});
      // No new snapshot; the earlier one already carries its dated name.
      ASSERT_EQ(host.Snapshots().size(), 1u);
      EXPECT_EQ(host.Snapshots()[0].stamp, first.stamp);
    }},
    {"ComponentFailsAtRename", [](SystemHost& host, const Snapshot& first) {
      host.SetFailOn("rename");
      Failed(host.Backup(), {"ERROR: Could not rename snapshot to "}, {"Placing Domino server in backup mode"});
      // The earlier snapshot keeps its recent name and its change information.
      ASSERT_EQ(host.Snapshots().size(), 1u);
      EXPECT_EQ(host.Snapshots()[0].name, first.name);
      EXPECT_TRUE(Ok(host.Ctl({"verify", host.server})));
    }},
    {"ComponentFailsAtRestore", [](SystemHost& host, const Snapshot&) {
      host.SetFailOn("restore");
      Failed(host.Restore("recent", false), {"Unspecified error"}, {"Snapshot restored."});
    }},
    {"KilledMidBackup", [](SystemHost& host, const Snapshot&) {
      ASSERT_NO_FATAL_FAILURE(Interrupt(host, false, true));
      // The dead service's backup mode is given up (the tail checks it first).
      ASSERT_TRUE(host.StartService());
      // At most one finished snapshot of the killed run, never a half-made one.
      EXPECT_LE(host.Snapshots().size(), 2u);
    }},
    {"ClientGoneDuringBackup", [](SystemHost& host, const Snapshot&) {
      ASSERT_NO_FATAL_FAILURE(Interrupt(host, false));
      // The next client is served once the run is over; by then its report is in.
      ASSERT_EQ(host.Reports("backup").size(), 2u);
      EXPECT_TRUE(Says(host.LastReport("backup"),
                       {"Domino backup mode stop completed\r\n", ": Backup Completed for Server: srv1/Org\r\n"}));
      // A send to a socket whose peer has closed succeeds until the peer's
      // reset arrives, so the service notices the lost client either while
      // it streams or at its next read of the connection.
      const std::string service = host.ServiceOutput();
      EXPECT_TRUE(service.find("client went away") != std::string::npos ||
                  service.find("recv failed") != std::string::npos)
          << service;
      EXPECT_EQ(host.Snapshots().size(), 2u);
    }},
    {"ClientGoneDuringRestore", [](SystemHost& host, const Snapshot&) {
      ASSERT_TRUE(host.StartWorkload(300, 9));
      ASSERT_EQ(host.Backup().exitCode, 0);
      ASSERT_TRUE(host.AdvanceLog(1));
      host.StopWorkload();
      const Digests atStop = RolledForwardOnly(host.Digest());
      ASSERT_NO_FATAL_FAILURE(Interrupt(host, true));  // either snapshot rolls forward to the same state
      ASSERT_EQ(host.Reports("restore").size(), 1u);
      EXPECT_TRUE(Says(host.LastReport("restore"),
                       {"Recovery COMPLETE \r\n", "SNAPSHOT RESTORE AND RECOVERY COMPLETE.\r\n"}));
      EXPECT_EQ(RolledForwardOnly(host.Digest()), atStop);
    }},
    {"LedgerFullAtChangeInformation", [](SystemHost& host, const Snapshot&) {
      ASSERT_TRUE(host.StartWorkload(300, 12));
      // Room for the hint file, not for the change information.
      host.LeaveFree('L', 12 << 10);
      Failed(host.Backup(), {"ERROR: Could not properly stop backup.\r\n"}, {"Backup Completed"});
    }},
    {"LedgerFullAtLogCopy", [](SystemHost& host, const Snapshot&) {
      // Full log extents wait for the backup: more of them than L: has room for.
      ASSERT_TRUE(host.StartWorkload(0, 13));
      ASSERT_TRUE(WaitFor([&] {
        std::uintmax_t bytes = 0;
        for (const std::string& name : FileNames(host.LogDir())) {
          if (name.ends_with(".TXN")) bytes += std::filesystem::file_size(host.LogDir() + "/" + name);
        }
        return bytes >= (4u << 20);
      }));
      host.StopWorkload();
      host.LeaveFree('L', 512 << 10);  // room for the change information (a page a database), not the logs
      EXPECT_TRUE(Says(host.Backup().out, {"Copying logs to ArkLedger dir...\r\n", "Could not copy ",
                                           "There is not enough space on the disk."}));
    }},
};

TEST_P(SystemRecovery, TheNextBackupSucceedsAndNothingIsLost) {
  SystemHost host;
  Shape shape;
  shape.ledgerBytes = std::string(GetParam().name).starts_with("LedgerFull") ? 16u << 20 : 0;  // L: on a tmpfs
  std::string skip;
  ASSERT_TRUE(host.Install(shape, &skip));
  if (!skip.empty()) GTEST_SKIP() << skip;
  const Digests before = host.Digest();
  ASSERT_TRUE(Ok(host.Backup()));
  const Snapshot first = host.Snapshots().at(0);

  ASSERT_NO_FATAL_FAILURE(GetParam().fail(host, first));
  host.SetFailOn("");
  if (shape.ledgerBytes != 0) host.LeaveFree('L', ~0ull);

  // The tail, with the failure gone: nothing held, the next backup (while
  // the server writes and logs fill) is whole, and no log is lost.
  EXPECT_EQ(host.HeldInBackup(), std::vector<std::string>{});
  ASSERT_TRUE(host.StartWorkload(300, 21, 2));
  EXPECT_TRUE(Ok(host.Backup(), {"Backup Completed for Server: srv1/Org", "Archiving "}, {"Could not copy "}));
  host.StopWorkload();
  const Digests live = RolledForwardOnly(host.Digest());
  for (const std::string& snapshot : {std::string("recent"), host.NameOf(first)}) {
    SCOPED_TRACE("up to the minute from " + snapshot);
    ASSERT_TRUE(Ok(host.Restore(snapshot, false)));
    EXPECT_EQ(RolledForwardOnly(host.Digest()), live);
  }
  ASSERT_TRUE(Ok(host.Restore(host.NameOf(first), true)));
  EXPECT_EQ(host.Digest(), before);
}

INSTANTIATE_TEST_SUITE_P(Faults, SystemRecovery, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ark::systest
