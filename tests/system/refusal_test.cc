// Backups and restores that must be refused, on a server named CN=flat (no
// common name: its ArkLedger directory and snapshot names carry its whole
// name): each says why, and the data volume, the logs, the ArkLedger and the
// snapshots stay exactly as they were, so the older backup still rolls
// forward to the end afterwards. Requests made of random records too.
#include <filesystem>
#include <functional>
#include <random>

#include "tests/system/system_host.h"

namespace systest {
namespace {

namespace fs = std::filesystem;

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

// A log that only the newer backup saved and that an up-to-the-minute
// restore of the older one needs.
std::string SavedLogNeeded(const SystemHost& host, const std::string& older, const std::string& newer) {
  const unsigned first = std::stoul("0" + ReadHostFile(host.SnapshotLedger(older) + "/log_hint"));
  const std::vector<std::string> active = FileNames(host.LogDir());
  for (const std::string& name : FileNames(host.SnapshotLedger(newer) + "/logs")) {
    unsigned number = 0;
    if (std::sscanf(name.c_str(), "S%7u.TXN", &number) != 1 || number <= first) continue;
    if (std::find(active.begin(), active.end(), name) == active.end()) return name;
  }
  return "";
}

void Replace(const std::string& path, const std::string& from, const std::string& to) {
  std::string text = ReadHostFile(path);
  const std::size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos) << path << ":\n" << text;
  WriteHostFile(path, text.replace(at, from.size(), to));
}

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

struct Refusal {
  std::string name, aside;            // aside: a path moved away while the row runs
  std::function<void(bool)> breakIt;  // true: breaks the host; false: mends it
  std::string command;                // "backup", or the snapshot to restore ("": the older one)
  bool bothModes;                     // also with --point-in-time
  std::vector<std::string> says, never;
};

TEST(SystemRefusals, EachSaysWhyAndChangesNothing) {
  SystemHost host;
  std::string why;
  const bool smallLogDrive = host.SmallDrive('E', 64ull << 30, &why);  // shrunk by one row
  ASSERT_TRUE(host.Install({.backend = "dir", .partitions = 2, .databases = 8, .unlogged = 1,
                            .logExtentKib = 32, .sizeMib = "0.5", .translogPath = "absolute", .launcher = {},
                            .ledgerBytes = 0}));
  Replace(host.NotesIni(), "CN=srv1/O=Org", "CN=flat");
  host.server = "flat";

  // Two backups while the server writes; the second archives several logs.
  ASSERT_TRUE(host.StartWorkload(400, 6, 3));
  EXPECT_TRUE(Says(host.Backup().out, {"Backup Completed for Server: flat"}));
  EXPECT_TRUE(fs::exists(host.HostPath("L:\\ArkLedger\\flat\\dominosnap__ARKHOST__FLAT__recent\\log_hint")));
  ASSERT_TRUE(host.AdvanceLog(5));
  ASSERT_EQ(host.Backup().exitCode, 0);
  ASSERT_TRUE(host.AdvanceLog(3));
  host.StopWorkload();
  const std::vector<Snapshot> snapshots = host.Snapshots();
  ASSERT_EQ(snapshots.size(), 2u);
  const bool firstIsNewer = snapshots[0].name.ends_with("recent");
  const std::string newer = snapshots[firstIsNewer ? 0 : 1].name, older = snapshots[firstIsNewer ? 1 : 0].name;
  const std::set<std::string> unlogged = host.Unlogged(older);
  const Digests live = RolledForwardOnly(host.Digest(), unlogged);

  const std::string lost = SavedLogNeeded(host, older, newer);
  ASSERT_FALSE(lost.empty()) << "the newer backup saved no log the older one needs";
  const std::string ini = host.NotesIni(), iniText = ReadHostFile(ini);
  const std::string ledger = host.SnapshotLedger(older), aside = host.root() + "/aside";
  std::istringstream listed(ReadHostFile(ledger + "/change_info_list"));
  std::uint64_t listedSize = 0;
  std::string listedFile;
  ASSERT_TRUE(listed >> listedSize >> listedFile) << "the backup listed no change information";
  std::replace(listedFile.begin(), listedFile.end(), '\\', '/');
  std::unique_ptr<ChildProcess> standIn;  // a process named nserver on this host: Domino runs
  auto dominoRuns = [&](bool on) {
    if (!on) return standIn.reset();
    fs::copy_file("/bin/sleep", host.root() + "/../nserver");
    standIn = Spawn({host.root() + "/../nserver", "600"}, "/dev/null", "/dev/null");
    const std::string exe = "/proc/" + std::to_string(standIn->id()) + "/exe";
    std::error_code ec;
    ASSERT_TRUE(WaitFor([&] { return fs::read_symlink(exe, ec).filename() == "nserver"; }));
  };
  auto noArchiveLogging = [&](bool on) {
    on ? Replace(ini, "TRANSLOG_Style=1", "TRANSLOG_Style=0") : WriteHostFile(ini, iniText);
  };
  const auto nothing = [](bool) {};
  const std::string canceled = "Restore canceled; the volume was not changed.\r\n";
  const std::vector<Refusal> refusals = {
      {"Domino running", "", dominoRuns, "", true,
       {"ERROR: Domino is running. It needs to be shutdown before the restore process occurs.\r\n"
        "Restore canceled.\r\n"},
       {"Determining necessary logs"}},
      {"a needed log lost from the ArkLedger", host.SnapshotLedger(newer) + "/logs/" + lost, nothing, "", false,
       {"ERROR: Could not find archive log file: " + lost +
        "\r\nLog is not located in Server's arkledger directory:\r\n"},
       {"Copying log file"}},
      {"archive logging switched off", "", noArchiveLogging, "", true,
       {"ERROR: Transaction logging is disabled or not set to archive mode.\r\n"
        "Please re-enabled archival transaction logging and perform a full backup.\r\n"},
       {}},
      {"a backup without archive logging", "", noArchiveLogging, "backup", false,
       {"ERROR: Server: flat is not set to archive mode.\r\nOnly archival transaction logging is supported.\r\n"
        "Backup aborted.\r\n"},
       {}},
      {"the snapshot's ArkLedger directory lost", ledger, nothing, "", true,
       {"ERROR: The snapshot's ArkLedger directory does not exist:\r\n", canceled}, {"Starting restore of snapshot"}},
      {"disabled_databases lost", ledger + "/disabled_databases", nothing, "", true,
       {"ERROR: The snapshot's ArkLedger directory holds no disabled_databases file:\r\n", canceled},
       {"Starting restore of snapshot"}},
      {"a listed change information file lost", ledger + "/" + listedFile, nothing, "", true,
       {"ERROR: Missing change information file: ", canceled}, {"Starting restore of snapshot"}},
      {"a snapshot that does not exist (arkctl exits 2)", "", nothing, "no-such-snapshot", false,
       {"no snapshot of flat is no-such-snapshot"}, {}},
      {"too little room on the log drive for the saved logs", "",
       [&](bool on) { ASSERT_TRUE(host.Resize('E', on ? 32ull << 20 : 64ull << 30)); }, "", false,
       {"Not enough free space on the active log drive.\r\n", "ERROR: Active log directory needs an additional "},
       {"Copying log file"}},
  };
  for (const Refusal& refusal : refusals) {
    SCOPED_TRACE(refusal.name);
    if (!smallLogDrive && refusal.name.starts_with("too little room")) {
      std::printf("not tested: %s (%s)\n", refusal.name.c_str(), why.c_str());
      continue;
    }
    if (!refusal.aside.empty()) fs::rename(refusal.aside, aside);
    ASSERT_NO_FATAL_FAILURE(refusal.breakIt(true));
    const HostState before = Capture(host);
    for (bool pointInTime : {false, true}) {
      if (pointInTime && !refusal.bothModes) break;
      const std::string snapshot = refusal.command.empty() ? older : refusal.command;
      std::vector<std::string> args = {"restore", host.server, snapshot, "--yes"};
      if (refusal.command == "backup") args = {"backup", host.server};
      if (pointInTime) args.push_back("--point-in-time");
      Result refused = host.Ctl(args);
      EXPECT_EQ(refused.exitCode, refusal.command == "no-such-snapshot" ? 2 : 1);
      EXPECT_TRUE(Says(refused.out + refused.err, refusal.says, refusal.never));
    }
    EXPECT_TRUE(Capture(host) == before) << "the refused run changed the host";
    ASSERT_NO_FATAL_FAILURE(refusal.breakIt(false));
    if (!refusal.aside.empty()) fs::rename(aside, refusal.aside);
  }

  // Requests whose server records are random text (paths with "..",
  // separators, wildcards, wrong drives; now and then the real notes.ini or
  // data directory): each run ends with "done", an error and its report.
  const DominoServerInfo real = StreamingClient(host.port()).Discover(host.server);
  const std::size_t backups = host.Reports("backup").size(), restores = host.Reports("restore").size();
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
  EXPECT_EQ(host.Reports("backup").size(), backups + 6);
  EXPECT_EQ(host.Reports("restore").size(), restores + 6);
  EXPECT_TRUE(Capture(host) == before) << "a request of random records changed the host";

  // Nothing was lost: the older backup still rolls forward to the end.
  ASSERT_TRUE(Ok(host.Restore(older, false)));
  EXPECT_EQ(RolledForwardOnly(host.Digest(), unlogged), live);
}

}  // namespace
}  // namespace systest
