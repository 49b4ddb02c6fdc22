// A restore that dies in the middle (the process exits hard at a named
// step): the service, started again, reports it; a backup or a drill in between is
// refused; the same restore run again finishes what the dead one left and
// brings every logged database to where it should be, with nothing left
// behind. Both log layouts, up to the minute and point in time. A
// single-database restore in place that dies while its database is offline:
// reported the same way, and the next one brings the database back.
#include <filesystem>
#include <fstream>

#include "tests/system/system_host.h"

namespace ark::systest {
namespace {

namespace fs = std::filesystem;

struct Row {
  const char* name;
  const char* step;         // where the process dies
  const char* translogPath;  // "relative": the logs below the data directory, reverted with it
  bool pointInTime;
  bool backupBetween = false;
};
void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

class SystemCrash : public ::testing::TestWithParam<Row> {};

const Row kRows[] = {
    {"BeforeTheLogsAreKept", "keeping-logs", "relative", false},
    {"AfterTheLogsAreKept", "logs-kept", "relative", false},
    {"AfterTheRevert", "reverted", "relative", false, true},
    {"AfterTheRevertPointInTime", "reverted", "relative", true},
    {"AfterTheLogsArePutBack", "logs-put-back", "relative", false},
    {"DuringTheApplyPointInTime", "applying-change-information", "relative", true},
    {"DuringRecovery", "recovering", "relative", false},
    {"LogsApartBeforeTheRevertPointInTime", "logs-kept", "absolute", true},
    {"LogsApartAfterTheRevert", "reverted", "absolute", false, true},
    {"LogsApartDuringTheApply", "applying-change-information", "absolute", false},
    {"LogsApartDuringRecoveryPointInTime", "recovering", "absolute", true},
};

TEST_P(SystemCrash, TheSameRestoreAgainFinishesItAndLosesNothing) {
  const Row& row = GetParam();
  SystemHost host;
  Shape shape;
  shape.translogPath = row.translogPath;
  ASSERT_TRUE(host.Install(shape));
  const Digests atBackup = RolledForwardOnly(host.Digest(true));
  ASSERT_TRUE(Ok(host.Backup()));
  ASSERT_TRUE(host.StartWorkload(300, 5, 2));
  host.StopWorkload();
  const Digests live = RolledForwardOnly(host.Digest(true));
  ASSERT_NE(live, atBackup);
  std::fstream(host.DataDir() + "/mail.box", std::ios::binary | std::ios::in | std::ios::out).seekp(8292) << "damaged";

  host.StopService();
  ASSERT_TRUE(host.StartCrashingService(row.step));
  const Result dead = host.Restore("recent", row.pointInTime);
  EXPECT_NE(dead.exitCode, 0) << dead.out;
  ASSERT_EQ(host.ServiceEnded(), 86) << "the run never reached " << row.step << ":\n" << dead.out;

  ASSERT_TRUE(host.StartService());
  const std::string kind = row.pointInTime ? "POINT IN TIME" : "UP TO THE MINUTE";
  const std::string line = "The " + kind + " restore of server srv1/Org from snapshot ";
  EXPECT_TRUE(Says(host.EventLog(), {"event 0x40000074 arksvc: " + line}));
  EXPECT_TRUE(Says(host.Ctl({"status"}).out, {"interrupted restores:  \n  " + line}));
  EXPECT_TRUE(Says(host.Ctl({"verify", host.server}).out, {"WARNING: " + line}));
  if (row.backupBetween) {
    const std::size_t snapshots = host.Snapshots().size();
    const Result refused = host.Backup();
    EXPECT_NE(refused.exitCode, 0);
    EXPECT_TRUE(Says(refused.out, {"ERROR: " + line, "Run that restore again before the next backup.\r\n"},
                     {"Snapshot will occur"}));
    EXPECT_EQ(host.Snapshots().size(), snapshots);
    const Result drill = host.Ctl({"drill", host.server});
    EXPECT_EQ(drill.exitCode, 1);
    EXPECT_TRUE(Says(drill.out, {"ERROR: " + line, "Run that restore again before drilling its snapshots.\r\n",
                                 "DRILL FAILED: 0 of 0"}));
  }

  // What the next run found and did: a revert that had started is done again.
  const std::string step = row.step;
  const bool revertStarted = step != "keeping-logs" && step != "logs-kept";
  const std::string found = revertStarted ? "Its volume revert had started; this restore reverts the volume again.\r\n"
                                          : "It had not changed the volume.\r\n";
  std::vector<std::string> says = {"Found an interrupted restore:\r\n" + line, found};
  says.push_back("The interrupted restore is finished; going on with this one.\r\n");
  says.push_back("SNAPSHOT RESTORE AND RECOVERY COMPLETE.");
  const Result again = host.Restore("recent", row.pointInTime);
  ASSERT_TRUE(Ok(again, says));
  EXPECT_EQ(RolledForwardOnly(host.Digest(true)), row.pointInTime ? atBackup : live);
  EXPECT_FALSE(fs::exists(host.HostPath("L:\\ArkLedger\\$restore_journal")));
  EXPECT_FALSE(fs::exists(host.HostPath("L:\\ArkLedger\\$kept_logs\\srv1")));
  EXPECT_TRUE(Says(host.Ctl({"status"}).out, {"interrupted restores:  none\n"}));
}

INSTANTIATE_TEST_SUITE_P(Steps, SystemCrash, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

// A single database restored in place, dying at each step (by name) while it is offline.
class SystemCrashInPlace : public ::testing::TestWithParam<const char*> {};

TEST_P(SystemCrashInPlace, TheNextRestoreDbBringsTheDatabaseBack) {
  const std::string step = GetParam();
  SystemHost host;
  ASSERT_TRUE(host.Install());
  ASSERT_TRUE(host.StartWorkload(300, 3, 1));
  host.StopWorkload();
  const std::string data = "D:\\Domino\\Data\\";
  const Digests atBackup = host.Digest(true);
  ASSERT_TRUE(Ok(host.Backup()));
  host.SpaceBackups();  // nothing the workload writes falls in the snapshot's second
  ASSERT_TRUE(host.StartWorkload(300, 5, 1));
  host.StopWorkload();
  const Digests live = host.Digest(true);
  std::string db;  // a mail database the server changed since the backup
  for (const auto& [path, digest] : live) {
    if (db.empty() && path.starts_with(data + "mail\\") && digest != atBackup.at(path)) db = path;
  }
  ASSERT_NE(db, "");
  const std::string relative = db.substr(data.size()), name = relative.substr(5, relative.size() - 9);

  host.StopService();
  ASSERT_TRUE(host.StartCrashingService(step));
  const Result dead = host.Ctl({"restore-db", host.server, relative, "--in-place", "--yes"});
  ASSERT_EQ(host.ServiceEnded(), 86) << "the run never reached " << step << ":\n" << dead.out;

  ASSERT_TRUE(host.StartService());
  const std::string line = "The SINGLE DATABASE restore of server srv1/Org from snapshot ";
  EXPECT_TRUE(Says(host.EventLog(), {"event 0x40000074 arksvc: " + line}));
  EXPECT_TRUE(Says(host.Ctl({"status"}).out, {"interrupted restores:  \n  " + line}));

  const Result again = host.Ctl({"restore-db", host.server, relative, "--to", "again"});
  ASSERT_TRUE(Ok(again, {"Found an interrupted restore:\r\n" + line,
                         "The database is online, restored; the one it replaced is kept as ",
                         "The interrupted restore is finished; going on with this one.\r\n",
                         "DATABASE RESTORE COMPLETE: 1 databases restored."}));
  const Digests after = host.Digest(true);
  EXPECT_EQ(after.at(db), atBackup.at(db));
  EXPECT_EQ(after.at(data + "again\\" + relative), atBackup.at(db));
  EXPECT_EQ(after.at(data + "restore\\mail\\" + name + "-before-restore.nsf"), live.at(db));
  for (const auto& [path, digest] : after) EXPECT_EQ(path.find("ark-restoring"), std::string::npos) << path;
  EXPECT_TRUE(Says(host.Ctl({"status"}).out, {"interrupted restores:  none\n"}));
  EXPECT_EQ(host.HeldInBackup(), std::vector<std::string>{});  // every database opens: none is offline
}

INSTANTIATE_TEST_SUITE_P(Steps, SystemCrashInPlace, ::testing::Values("database-offline", "database-replaced"),
                         [](const auto& info) { return std::string(info.param).erase(8, 1); });

}  // namespace
}  // namespace ark::systest
