// Requests made of random records: each run ends with "done", an error and
// its report, and the data volume, the logs, the ArkLedger and the snapshots
// stay exactly as they were, so the backup still rolls forward to the end
// afterwards. The refusals of well-formed requests are the unit tests' part.
#include <random>

#include "tests/system/system_host.h"

namespace systest {
namespace {

struct HostState {
  std::vector<std::string> volume, logs, ledger, snapshots;
  bool operator==(const HostState&) const = default;
};

HostState Capture(const SystemHost& host) {
  HostState state{snaptest::Listing(host.HostPath("D:")), FileNames(host.LogDir()),
                  snaptest::Listing(host.ServerLedger()), {}};
  for (const Snapshot& s : host.Snapshots()) state.snapshots.push_back(s.name);
  return state;
}

std::string RandomText(std::mt19937& rng) {
  static const char kAlphabet[] = "abcSRV019._-\\/:*?\" \t";
  std::string text(rng() % 24, ' ');
  for (char& c : text) c = kAlphabet[rng() % (sizeof kAlphabet - 1)];
  return text;
}

// Paths with "..", separators, wildcards, wrong drives; now and then the
// real notes.ini or data directory.
DominoServerInfo RandomServer(std::mt19937& rng, const DominoServerInfo& real) {
  static const char16_t kDrives[] = u"CDELZ?";
  DominoServerInfo server;
  server.dataVolume.driveLetter = kDrives[rng() % 6];
  server.dataVolume.volumeName = RandomText(rng);
  server.logVolume.driveLetter = kDrives[rng() % 6];
  server.dataDirectory = rng() % 2 ? real.dataDirectory + "\\" + RandomText(rng) : RandomText(rng);
  server.logDirectory = rng() % 2 ? real.logDirectory : RandomText(rng);
  server.notesIniPath = rng() % 2 ? real.notesIniPath : RandomText(rng);
  server.serverName = RandomText(rng);
  server.commonName = RandomText(rng);
  server.archiveLogging = std::int32_t(rng() % 2);
  server.loggingStyle = rng() % 3;
  return server;
}

TEST(SystemRefusals, EachSaysWhyAndChangesNothing) {
  SystemHost host;
  Shape shape;
  shape.partitions = 2, shape.databases = 8, shape.unlogged = 1, shape.sizeMib = "0.5";
  ASSERT_TRUE(host.Install(shape));
  ASSERT_TRUE(host.StartWorkload(400, 6, 3));
  ASSERT_TRUE(Ok(host.Backup()));
  ASSERT_TRUE(host.AdvanceLog(3));
  host.StopWorkload();
  const std::set<std::string> unlogged = host.Unlogged(host.Snapshots().at(0).name);
  const Digests live = RolledForwardOnly(host.Digest(), unlogged);

  const DominoServerInfo real = StreamingClient(host.port()).Discover(host.server);
  const HostState before = Capture(host);
  std::mt19937 rng(4711);
  for (int run = 0; run < 12; ++run) {
    StreamingClient client(host.port());
    const DominoServerInfo server = RandomServer(rng, real);
    if (run % 2 == 0) {
      BackupRequest request;
      request.deleteExcessSnapshots = rng() % 2;
      request.keepCount = rng() % 3;
      client.StartBackup(server, request);
    } else {
      SnapshotEntry snapshot;
      snapshot.name = RandomText(rng);
      snapshot.displayText.Set(RandomText(rng));
      client.StartRestore(server, snapshot, rng() % 2);
    }
    std::string seen;
    EXPECT_FALSE(client.ReadUntil("\x01", seen)) << seen;  // ends with "done"
    EXPECT_TRUE(Says(seen, {"ERROR"}, {"["}));                 // "[": the connection broke
  }
  EXPECT_EQ(host.Reports("backup").size(), 7u);
  EXPECT_EQ(host.Reports("restore").size(), 6u);
  EXPECT_TRUE(Capture(host) == before) << "a request of random records changed the host";

  // Nothing was lost: the backup still rolls forward to the end.
  ASSERT_TRUE(Ok(host.Restore("recent", false)));
  EXPECT_EQ(RolledForwardOnly(host.Digest(), unlogged), live);
}

}  // namespace
}  // namespace systest
