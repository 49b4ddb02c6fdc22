// Hundreds of sessions, polite, cut short and made of random bytes, leave
// the service as they found it: it answers, holds the same open files and
// about the same memory. Then requests made of random records: each run ends
// with "done", an error and its report, and the data volume, the logs, the
// ArkLedger and the snapshots stay exactly as they were.
#include <sys/socket.h>

#include <random>

#include "tests/system/system_host.h"

namespace ark::systest {
namespace {

std::set<std::string> OpenFiles(pid_t pid) {
  std::set<std::string> out;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
    out.insert(entry.path().filename().string() + " -> " + std::filesystem::read_symlink(entry, ec).string());
  }
  return out;
}

long ResidentKib(pid_t pid) {
  const std::string status = ReadHostFile("/proc/" + std::to_string(pid) + "/status");
  const std::size_t at = status.find("VmRSS:");
  return at == std::string::npos ? -1 : std::stol(status.substr(at + 6));
}

// One session of ordinary commands (the others come with the random bytes),
// every answer checked; every third one cut off instead of ended politely
// (then the service closes the connection).
void OrdinarySession(std::uint16_t port, int round) {
  StreamingClient s(port);
  WriteRaw(s.get(), Bytes({12}));  // ping
  ASSERT_EQ(ReadRaw(s.get(), 1), Bytes({1}));
  ASSERT_EQ(s.Discover("srv1").serverName, "srv1/Org");
  if (round % 3 != 0) {
    WriteRaw(s.get(), Bytes({15}));
    ASSERT_EQ(ReadRaw(s.get(), 2), Bytes({1}));
  }
}

// The data volume, the logs, the ArkLedger and the snapshots' names.
using HostState = std::vector<std::vector<std::string>>;
HostState Capture(const SystemHost& host) {
  HostState state{snaptest::Listing(host.HostPath("D:")), FileNames(host.LogDir()),
                  snaptest::Listing(host.ServerLedger()), {}};
  for (const Snapshot& s : host.Snapshots()) state.back().push_back(s.name);
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

TEST(SystemLoad, ManySessionsRandomBytesAndRandomRecordsLeaveNoTrace) {
  // Freed memory is reused at once under AddressSanitizer too.
  const char* asan = std::getenv("ASAN_OPTIONS");
  ::setenv("ASAN_OPTIONS", ((asan ? std::string(asan) + ":" : "") + "quarantine_size_mb=0:thread_local_quarantine_size_kb=0").c_str(), 1);
  SystemHost host;
  Shape shape;
  shape.databases = 8, shape.unlogged = 1, shape.sizeMib = "0.5";
  ASSERT_TRUE(host.Install(shape));
  for (int round = 0; round < 8; ++round) OrdinarySession(host.port(), round);  // what is made once is made
  const pid_t service = host.ServicePid();
  const std::set<std::string> fds = OpenFiles(service);
  const long rss = ResidentKib(service);
  ASSERT_GT(rss, 0);

  std::mt19937 rng(20240611);
  for (int round = 0; round < 200; ++round) ASSERT_NO_FATAL_FAILURE(OrdinarySession(host.port(), round)) << round;
  for (int round = 0; round < 50; ++round) {  // random bytes, never a backup or restore (7, 8)
    StreamingClient s(host.port());
    std::string bytes(1 + rng() % 512, '\0');
    for (char& c : bytes) {
      c = char(rng());
      if (c == 7 || c == 8) c = 13;
    }
    platform::Send(s.get(), bytes.data(), bytes.size());
    ::shutdown(s.get(), SHUT_WR);
    ReadRaw(s.get(), 1 << 20, 2000);
  }
  ASSERT_NO_FATAL_FAILURE(OrdinarySession(host.port(), 1)) << host.ServiceOutput();
  EXPECT_EQ(OpenFiles(service), fds);
  EXPECT_LE(ResidentKib(service), rss + 1024) << "resident memory grew from " << rss << " KiB";

  ASSERT_TRUE(Ok(host.Backup()));
  const DominoServerInfo real = StreamingClient(host.port()).Discover(host.server);
  const HostState before = Capture(host);
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
}

}  // namespace
}  // namespace ark::systest
