// Restores and backups that must be refused: each says why, and the data
// volume, the transaction log and the ArkLedger stay exactly as they were,
// so that a later restore still gets everything back.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <thread>

#include "tests/scenario/scenario_host.h"

namespace scenario {
namespace {

namespace fs = std::filesystem;

// What a refused operation must not touch.
struct HostState {
  std::vector<std::string> dataVolume;  // every file with its content
  std::vector<std::string> logs;        // names in the log directory
  std::vector<std::string> ledger;      // the server's ArkLedger, with content
};

// Which part changed and the first entry that differs (its start only: file
// contents are part of the entries).
::testing::AssertionResult SameParts(const char* part, const std::vector<std::string>& before,
                                     const std::vector<std::string>& after) {
  if (before == after) return ::testing::AssertionSuccess();
  std::size_t i = 0;
  while (i < before.size() && i < after.size() && before[i] == after[i]) ++i;
  auto show = [](const std::vector<std::string>& v, std::size_t at) {
    return at < v.size() ? v[at].substr(0, 80) : std::string("(nothing)");
  };
  return ::testing::AssertionFailure() << part << " changed: " << show(before, i) << " became " << show(after, i);
}

::testing::AssertionResult Unchanged(const HostState& before, const HostState& after) {
  if (auto r = SameParts("data volume", before.dataVolume, after.dataVolume); !r) return r;
  if (auto r = SameParts("log directory", before.logs, after.logs); !r) return r;
  return SameParts("ArkLedger", before.ledger, after.ledger);
}

HostState Capture(const ScenarioHost& host) {
  return {Tree(host.VolumeDir('D')), FileNames(host.LogDir()), Tree(host.ServerLedger())};
}

// Two backups of srv1 taken while it writes, with several logs archived by
// the second one; the server stopped at the end.
void TwoBackups(ScenarioHost& host) {
  host.StartServer(400, 6);
  ASSERT_TRUE(host.AdvanceLog(3));
  ToolResult first = host.Backup();
  ASSERT_EQ(first.exitCode, 0) << first.out << first.err;
  ASSERT_TRUE(host.AdvanceLog(5));
  ToolResult second = host.Backup();
  ASSERT_EQ(second.exitCode, 0) << second.out << second.err;
  ASSERT_TRUE(host.AdvanceLog(3));
  host.StopServer();
}

// A log that only the newer backup saved and that an up-to-the-minute
// restore of the older one needs.
std::string SavedLogNeeded(const ScenarioHost& host, const std::string& older, const std::string& newer) {
  std::istringstream hint(servicetest::ReadFile(host.SnapshotLedger(older) + "/log_hint"));
  unsigned first = 0;
  hint >> first;
  const std::vector<std::string> active = FileNames(host.LogDir());
  for (const std::string& name : FileNames(host.SnapshotLedger(newer) + "/logs")) {
    unsigned number = 0;
    if (std::sscanf(name.c_str(), "S%7u.TXN", &number) != 1 || number <= first) continue;
    if (std::find(active.begin(), active.end(), name) == active.end()) return name;
  }
  return "";
}

TEST(Refusal, RestoresThatCannotSucceedChangeNothing) {
  ScenarioHost host;
  ASSERT_TRUE(host.Install());
  ASSERT_NO_FATAL_FAILURE(TwoBackups(host));
  const std::string older = host.OlderSnapshot();
  const std::vector<std::string> names = host.SnapshotNames();
  ASSERT_EQ(names.size(), 2u);
  const std::string newer = names[0] == older ? names[1] : names[0];

  // Domino running: an nserver that wrote one transaction and then idles.
  const std::uint64_t next = host.NextRecord();
  host.StartServer(0.0001, 7);
  ASSERT_TRUE(host.WaitForRecordAfter(next));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // its pages written after the record
  HostState before = Capture(host);
  for (bool pointInTime : {true, false}) {
    ToolResult refused = host.Restore(older, pointInTime);
    EXPECT_NE(refused.exitCode, 0);
    EXPECT_TRUE(Has(refused.out,
                    "ERROR: Domino is running. It needs to be shutdown before the restore process occurs.\r\n"
                    "Restore canceled.\r\n"))
        << refused.out;
    EXPECT_FALSE(Has(refused.out, "Determining necessary logs")) << refused.out;
  }
  EXPECT_TRUE(Unchanged(before, Capture(host)));
  host.StopServer();

  const std::set<std::string> unlogged = host.Unlogged(older);
  Digests live = host.Digest();
  ASSERT_EQ(live.exitCode, 0) << live.text;

  // A needed log lost from the ArkLedger (and not in the log directory).
  const std::string lost = SavedLogNeeded(host, older, newer);
  ASSERT_FALSE(lost.empty()) << "the newer backup saved no log the older one needs";
  const std::string savedPath = host.SnapshotLedger(newer) + "/logs/" + lost;
  const std::string savedBytes = servicetest::ReadFile(savedPath);
  fs::remove(savedPath);
  before = Capture(host);
  ToolResult missing = host.Restore(older, false);
  EXPECT_NE(missing.exitCode, 0);
  EXPECT_TRUE(Has(missing.out, "ERROR: Could not find archive log file: " + lost + "\r\n" +
                                   "Log is not located in Server's arkledger directory:\r\n"))
      << missing.out;
  EXPECT_FALSE(Has(missing.out, "Copying log file")) << missing.out;
  EXPECT_TRUE(Unchanged(before, Capture(host)));
  servicetest::WriteFile(savedPath, savedBytes);

  // Archive logging switched off in notes.ini after the backups.
  const std::string ini = host.HostPath(host.notesIni());
  const std::string iniText = servicetest::ReadFile(ini);
  std::string circular = iniText;
  std::size_t style = circular.find("TRANSLOG_Style=1");
  ASSERT_NE(style, std::string::npos) << iniText;
  circular.replace(style, 16, "TRANSLOG_Style=0");
  servicetest::WriteFile(ini, circular);
  before = Capture(host);
  for (bool pointInTime : {true, false}) {
    ToolResult refused = host.Restore(older, pointInTime);
    EXPECT_NE(refused.exitCode, 0);
    EXPECT_TRUE(Has(refused.out,
                    "ERROR: Transaction logging is disabled or not set to archive mode.\r\n"
                    "Please re-enabled archival transaction logging and perform a full backup.\r\n"))
        << refused.out;
  }
  EXPECT_TRUE(Unchanged(before, Capture(host)));
  servicetest::WriteFile(ini, iniText);

  // The snapshot's ArkLedger data lost or incomplete: refused before the revert.
  const std::string ledger = host.SnapshotLedger(older);
  std::istringstream listed(servicetest::ReadFile(ledger + "/change_info_list"));
  std::uint64_t listedSize = 0;
  std::string listedFile;
  ASSERT_TRUE(listed >> listedSize >> listedFile) << "the backup listed no change information";
  std::replace(listedFile.begin(), listedFile.end(), '\\', '/');
  const struct {
    std::string path;
    std::string says;
  } losses[] = {
      {ledger, "ERROR: The snapshot's ArkLedger directory does not exist:\r\n"},
      {ledger + "/disabled_databases", "ERROR: The snapshot's ArkLedger directory holds no disabled_databases file:\r\n"},
      {ledger + "/" + listedFile, "ERROR: Missing change information file: "},
  };
  for (const auto& loss : losses) {
    SCOPED_TRACE(loss.path);
    const std::string aside = host.root() + "/aside";  // C:\aside, on no volume of the server
    fs::rename(loss.path, aside);
    before = Capture(host);
    for (bool pointInTime : {true, false}) {
      ToolResult refused = host.Restore(older, pointInTime);
      EXPECT_NE(refused.exitCode, 0);
      EXPECT_TRUE(Has(refused.out, loss.says)) << refused.out;
      EXPECT_TRUE(Has(refused.out, "Restore canceled; the volume was not changed.\r\n")) << refused.out;
      EXPECT_FALSE(Has(refused.out, "Starting restore of snapshot")) << refused.out;
    }
    EXPECT_TRUE(Unchanged(before, Capture(host)));
    fs::rename(aside, loss.path);
  }

  // A snapshot that does not exist never reaches the service.
  before = Capture(host);
  ToolResult unknown = host.Restore("no-such-snapshot", false);
  EXPECT_EQ(unknown.exitCode, 2);
  EXPECT_TRUE(Has(unknown.err, "no snapshot of srv1/Org is no-such-snapshot")) << unknown.err;
  EXPECT_TRUE(Unchanged(before, Capture(host)));

  // Nothing was lost: the older backup still rolls forward to the end.
  ToolResult restore = host.Restore(older, false);
  ASSERT_EQ(restore.exitCode, 0) << restore.out << restore.err;
  Digests restored = host.Digest();
  EXPECT_EQ(restored.exitCode, 0) << restored.text;
  EXPECT_EQ(RolledForwardOnly(restored, unlogged), RolledForwardOnly(live, unlogged));
}

// Free space on the log drive counts 64 MB for every saved log to copy; a
// small log drive refuses the up-to-the-minute restore before the volume is
// reverted.
TEST(Refusal, TooLittleRoomOnTheLogDriveChangesNothing) {
  ScenarioHost host;
  std::string why;
  if (!host.UseSmallLogDrive(32 * 1024, &why)) {
    GTEST_SKIP() << "the log drive cannot be made small here (" << why << "); free-space refusal not tested";
  }
  ASSERT_TRUE(host.Install());
  ASSERT_NO_FATAL_FAILURE(TwoBackups(host));
  const std::string older = host.OlderSnapshot();
  HostState before = Capture(host);

  ToolResult refused = host.Restore(older, false);
  EXPECT_NE(refused.exitCode, 0);
  EXPECT_TRUE(Has(refused.out, "Not enough free space on the active log drive.\r\n")) << refused.out;
  EXPECT_TRUE(Has(refused.out, "ERROR: Active log directory needs an additional ")) << refused.out;
  EXPECT_FALSE(Has(refused.out, "Copying log file")) << refused.out;
  EXPECT_TRUE(Unchanged(before, Capture(host)));
}

// A server without archive logging is not backed up at all.
TEST(Refusal, BackupOfAServerWithoutArchiveLogging) {
  ScenarioHost host;
  HostShape shape;
  shape.logging = "circular";
  ASSERT_TRUE(host.Install(shape));
  const std::vector<std::string> volume = Tree(host.VolumeDir('D'));

  ToolResult backup = host.Backup();
  EXPECT_NE(backup.exitCode, 0);
  EXPECT_TRUE(Has(backup.out,
                  "ERROR: Server: srv1 is not set to archive mode.\r\n"
                  "Only archival transaction logging is supported.\r\n"
                  "Backup aborted.\r\n"))
      << backup.out;
  EXPECT_TRUE(host.SnapshotNames().empty());
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(host.ServerLedger(), ec)) {
    EXPECT_FALSE(entry.is_directory()) << "an ArkLedger directory was made: " << entry.path();
  }
  EXPECT_EQ(Tree(host.VolumeDir('D')), volume);
}

}  // namespace
}  // namespace scenario
