// A server of 5,000 databases with the soft limit of open files a service
// gets by default (1,024): the service raises it and backs up and restores
// every database.
#include <sys/resource.h>

#include "tests/system/system_host.h"

namespace ark::systest {
namespace {

constexpr int kDatabases = 5000;

TEST(SystemScale, ManyDatabasesUnderTheDefaultSoftLimitOfOpenFiles) {
  struct rlimit limit = {};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
  if (limit.rlim_max < 3 * kDatabases) {  // nserver holds two or three per database
    GTEST_SKIP() << "the hard limit of open files (" << limit.rlim_max << ") is too low";
  }
  SystemHost host;
  ASSERT_TRUE(host.Install({.backend = "dir", .partitions = 0, .databases = kDatabases,
                            .unlogged = 1, .logExtentKib = 64, .sizeMib = "0", .translogPath = "absolute",
                            .launcher = {"env", "ARK_DEBUG=1", "prlimit", "--nofile=1024:"}, .ledgerBytes = 0}));
  const Digests before = host.Digest();
  ASSERT_EQ(before.size(), std::size_t(kDatabases));

  ASSERT_TRUE(Ok(host.Backup()));
  EXPECT_TRUE(Has(host.ServiceOutput(), "Open file limit raised from 1024 to " + std::to_string(limit.rlim_max)));
  const std::vector<Snapshot> snapshots = host.Snapshots();
  ASSERT_EQ(snapshots.size(), 1u);
  const std::set<std::string> unlogged = host.Unlogged(snapshots[0].name);

  ASSERT_TRUE(host.StartWorkload(0, 11, 2));
  host.StopWorkload();
  const Digests live = host.Digest();
  ASSERT_NE(RolledForwardOnly(live, unlogged), RolledForwardOnly(before, unlogged));

  ASSERT_TRUE(Ok(host.Restore(snapshots[0].name, false), {"Recovering databases 1 to "}));
  const Digests rolledForward = host.Digest();
  EXPECT_EQ(rolledForward.size(), live.size());
  EXPECT_EQ(RolledForwardOnly(rolledForward, unlogged), RolledForwardOnly(live, unlogged));

  ASSERT_TRUE(Ok(host.Restore(snapshots[0].name, true)));
  EXPECT_EQ(host.Digest(), before);
}

}  // namespace
}  // namespace ark::systest
