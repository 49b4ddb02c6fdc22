// Backup and restore requests whose server records are made of random text
// (paths with "..", separators, wildcards, wrong drives; now and then the
// real notes.ini or data drive): every run ends with "done" and a saved
// report, and the host keeps its databases, its logs and its snapshots.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <set>

#include "tests/faults/fault_host.h"
#include "tests/faults/streaming_client.h"

namespace faults {
namespace {

std::string RandomText(std::mt19937& rng) {
  static const char kAlphabet[] = "abcSRV019._-\\/:*?\" \t";
  std::string text(rng() % 24, ' ');
  for (char& c : text) c = kAlphabet[rng() % (sizeof kAlphabet - 1)];
  return text;
}

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

std::set<std::string> FileNames(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
    names.insert(entry.path().string());
  }
  return names;
}

TEST(GarbageRecords, NeverTouchTheHost) {
  FaultHost host(Shape(6, 2));
  ASSERT_TRUE(host.installed());
  ASSERT_TRUE(host.StartServer());
  ToolResult backup = host.Backup();
  ASSERT_EQ(backup.exitCode, 0) << backup.out << backup.err;
  const auto digests = host.Digests();
  const auto snapshots = host.Snapshots();
  const auto logs = FileNames(host.VolumeDir('E'));
  const auto ledger = FileNames(host.VolumeDir('L') + "/ArkLedger/srv1");

  std::mt19937 rng(4711);
  DominoServerInfo real;
  {
    StreamingClient client(host.port());
    real = client.Discover(kServer);
  }
  constexpr int kRuns = 12;
  for (int run = 0; run < kRuns; ++run) {
    StreamingClient client(host.port());
    ASSERT_TRUE(client.connected());
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
    EXPECT_FALSE(Has(seen, "[")) << "the connection broke: " << seen;
    EXPECT_TRUE(Has(seen, "ERROR")) << seen;
  }

  EXPECT_EQ(host.Reports("backup").size(), 1u + kRuns / 2);
  EXPECT_EQ(host.Reports("restore").size(), std::size_t(kRuns / 2));
  EXPECT_EQ(host.Digests(), digests);
  EXPECT_EQ(FileNames(host.VolumeDir('E')), logs);
  EXPECT_EQ(FileNames(host.VolumeDir('L') + "/ArkLedger/srv1"), ledger);
  const auto after = host.Snapshots();
  ASSERT_EQ(after.size(), snapshots.size());
  for (std::size_t i = 0; i < after.size(); ++i) {
    EXPECT_EQ(after[i].name, snapshots[i].name);
    EXPECT_EQ(after[i].stamp, snapshots[i].stamp);
  }
  // And the real server is still served: a backup and a restore go through.
  EXPECT_EQ(host.Backup().exitCode, 0);
  ToolResult restored = host.Restore("recent", true);
  EXPECT_EQ(restored.exitCode, 0) << restored.out;
  EXPECT_EQ(host.Digests(), digests);
}

}  // namespace
}  // namespace faults
