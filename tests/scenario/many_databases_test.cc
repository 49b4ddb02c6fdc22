// A server of 5,000 databases through arkserver and arkctl, with the soft
// limit of open files a service gets by default (1,024): the service raises
// it and backs up and restores every database; where the hard limit is
// 1,024 too, the backup stops cleanly and says why.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include "dominosim/sim_api.h"
#include "dominosim/status.h"
#include "platform/host.h"
#include "tests/scenario/scenario_host.h"

namespace scenario {
namespace {

constexpr int kDatabases = 5000;

// Databases of the host that another process cannot put into backup mode
// (a backup that did not give them back), while the service runs.
std::vector<std::string> HeldInBackup(const ScenarioHost& host, const Digests& databases) {
  platform::SetHostRoot(host.root());
  dominosim::SimApi api;
  std::string arg = "=" + host.notesIni();
  char* argv[] = {nullptr, arg.data()};
  std::vector<std::string> held;
  if (api.InitRuntime(2, argv) != NOERROR) return {"(the runtime did not start)"};
  for (const auto& [path, digest] : databases.byPath) {
    DBHANDLE handle = 0;
    DWORD context = 0, v1 = 0, v2 = 0;
    if (api.OpenDatabase(path.c_str(), &handle) != NOERROR ||
        api.BackupStart(handle, 0, &context, &v1, &v2) != NOERROR) {
      held.push_back(path);
    } else {
      api.BackupEnd(handle, context, 1);
    }
    if (handle != 0) api.CloseDatabase(handle);
  }
  api.TermRuntime();
  return held;
}

TEST(ManyDatabases, BackUpAndRestoreUnderTheDefaultSoftLimitOfOpenFiles) {
  struct rlimit limit = {};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
  if (limit.rlim_max < 3 * kDatabases) {  // nserver holds two or three per database
    GTEST_SKIP() << "the hard limit of open files (" << limit.rlim_max << ") is too low for "
                 << kDatabases << " databases";
  }
  ScenarioHost host;
  HostShape shape;
  shape.partitions = 0;
  shape.databases = kDatabases;
  shape.unlogged = 1;
  shape.sizeMib = "0";
  shape.logExtentKib = 64;
  shape.serviceLauncher = {"prlimit", "--nofile=1024:1024"};
  ASSERT_TRUE(host.Install(shape));
  const Digests before = host.Digest();
  ASSERT_EQ(before.byPath.size(), std::size_t(kDatabases)) << before.text;

  // Both limits at 1,024: the backup stops, says why, and gives every
  // database back.
  ToolResult refused = host.Backup();
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_TRUE(Has(refused.out, "too many open files (the limit is 1024)\r\nAborting backup of all databases."))
      << refused.out;
  EXPECT_TRUE(host.SnapshotNames().empty());
  EXPECT_EQ(HeldInBackup(host, before), std::vector<std::string>{});

  // The soft limit at 1,024 and the hard limit above: the service raises
  // its limit, and both kinds of restore bring back every database.
  ASSERT_TRUE(host.RestartService({"env", "ARK_DEBUG=1", "prlimit", "--nofile=1024:"}));
  ToolResult backup = host.Backup();
  ASSERT_EQ(backup.exitCode, 0) << backup.out << backup.err;
  const std::string raised = "Open file limit raised from 1024 to " + std::to_string(limit.rlim_max);
  EXPECT_TRUE(Has(host.ServiceErrors(), raised)) << host.ServiceErrors().substr(0, 2000);
  const std::vector<std::string> snapshots = host.SnapshotNames();
  ASSERT_EQ(snapshots.size(), 1u);
  const std::set<std::string> unlogged = host.Unlogged(snapshots[0]);

  const std::uint64_t next = host.NextRecord();
  host.StartServer(0, 11);
  ASSERT_TRUE(host.WaitForRecordAfter(next + 400));
  host.StopServer();
  const Digests live = host.Digest();
  ASSERT_EQ(live.exitCode, 0) << live.text;
  ASSERT_NE(RolledForwardOnly(live, unlogged), RolledForwardOnly(before, unlogged));

  ToolResult upToTheMinute = host.Restore(snapshots[0], false);
  ASSERT_EQ(upToTheMinute.exitCode, 0) << upToTheMinute.out << upToTheMinute.err;
  EXPECT_TRUE(Has(upToTheMinute.out, "Recovering databases 1 to ")) << upToTheMinute.out;
  const Digests rolledForward = host.Digest();
  EXPECT_EQ(rolledForward.byPath.size(), live.byPath.size());
  EXPECT_EQ(RolledForwardOnly(rolledForward, unlogged), RolledForwardOnly(live, unlogged));

  ToolResult pointInTime = host.Restore(snapshots[0], true);
  ASSERT_EQ(pointInTime.exitCode, 0) << pointInTime.out << pointInTime.err;
  EXPECT_EQ(host.Digest().byPath, before.byPath);
}

}  // namespace
}  // namespace scenario
