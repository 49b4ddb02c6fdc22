// Hundreds of sessions, polite, cut short and made of random bytes, leave the
// service as they found it: it still answers, holds the same open files and
// about the same memory.
#include <dirent.h>
#include <sys/socket.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>

#include "net/wire.h"
#include "tests/faults/fault_host.h"
#include "tests/net/loopback.h"

namespace faults {
namespace {

using nettest::Bytes;
using nettest::ReadRaw;
using nettest::WriteRaw;

// What the process holds open: one line per descriptor, with its target.
std::vector<std::string> OpenFiles(pid_t pid) {
  std::vector<std::string> out;
  const std::string dirPath = "/proc/" + std::to_string(pid) + "/fd";
  DIR* dir = ::opendir(dirPath.c_str());
  if (dir == nullptr) return out;
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    char target[512] = {};
    ssize_t n = ::readlink((dirPath + "/" + entry->d_name).c_str(), target, sizeof target - 1);
    out.push_back(std::string(entry->d_name) + " -> " + (n > 0 ? std::string(target, std::size_t(n)) : "?"));
  }
  ::closedir(dir);
  std::sort(out.begin(), out.end());
  return out;
}

std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

long ResidentKib(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

// One session of ordinary commands; every answer is checked. Every third
// session is cut off instead of ended politely.
void OrdinarySession(std::uint16_t port, int round) {
  platform::Socket s = nettest::Connect(port);
  ASSERT_TRUE(s.valid());
  WriteRaw(s.get(), Bytes({12}));  // ping
  ASSERT_EQ(ReadRaw(s.get(), 1), Bytes({1}));
  switch (round % 4) {
    case 0:  // status
    {
      WriteRaw(s.get(), Bytes({9, 10, 11}));
      std::string answer = ReadRaw(s.get(), 6);
      ASSERT_EQ(answer.size(), 6u);
      for (std::size_t i = 0; i < 6; i += 2) ASSERT_EQ(answer[i], 1) << i;
      for (std::size_t i = 1; i < 6; i += 2) ASSERT_TRUE(answer[i] == 0 || answer[i] == 1) << i;
      ASSERT_EQ(answer[5], 0);  // no nserver runs for this host
      break;
    }
    case 1: {  // the backup reports: none yet
      WriteRaw(s.get(), Bytes({1, 1}));
      ASSERT_EQ(ReadRaw(s.get(), 5), Bytes({1, 0, 0, 0, 0}));
      break;
    }
    case 2: {  // discovery: the one server of the host
      WriteRaw(s.get(), Bytes({6}));
      std::string head = ReadRaw(s.get(), 13);
      ASSERT_EQ(head, Bytes({1}) + nettest::WireString("cont") + nettest::U32(1));
      // The rest of the answer is read up to the next command's answer.
      WriteRaw(s.get(), Bytes({13}));
      std::string rest;
      while (rest.size() < 5 || rest.substr(rest.size() - 5) != Bytes({1, 0, 0, 0, 0})) {
        std::string more = ReadRaw(s.get(), 1);
        ASSERT_EQ(more.size(), 1u) << "discovery answer ended early";
        rest += more;
      }
      break;
    }
    default:  // an unknown command and a flag test
      WriteRaw(s.get(), Bytes({200}) + Bytes({14}) + nettest::U32(0));
      ASSERT_EQ(ReadRaw(s.get(), 2), Bytes({255, 1}));
      break;
  }
  if (round % 3 != 0) {
    WriteRaw(s.get(), Bytes({15}));
    ASSERT_EQ(ReadRaw(s.get(), 1), Bytes({1}));
  }
}

// Random bytes, then the client goes; whatever the service makes of them it
// must not hang, crash or hold on to anything.
void GarbageSession(std::uint16_t port, std::mt19937& rng) {
  platform::Socket s = nettest::Connect(port);
  ASSERT_TRUE(s.valid());
  std::string bytes(1 + rng() % 512, '\0');
  for (char& c : bytes) c = char(rng());
  // Never the long operations: a random backup or restore request would run.
  for (char& c : bytes) {
    if (c == 7 || c == 8) c = 13;
  }
  long sent = platform::Send(s.get(), bytes.data(), bytes.size());
  (void)sent;  // the service may have closed already
  ::shutdown(s.get(), SHUT_WR);
  ReadRaw(s.get(), 1 << 20, 2000);
}

// A ping in a session of its own, ended politely; true when answered and
// the service then closed the connection.
bool Answers(std::uint16_t port) {
  platform::Socket s = nettest::Connect(port);
  if (!s.valid()) return false;
  WriteRaw(s.get(), Bytes({12, 15}));
  return ReadRaw(s.get(), 2) == Bytes({1, 1}) && nettest::PeerClosed(s.get());
}

TEST(ConnectionLoad, ManySessionsAndGarbageLeaveNoTrace) {
  // Freed memory is reused at once under AddressSanitizer too, so that the
  // service's resident size means what it means without it.
  const char* asan = std::getenv("ASAN_OPTIONS");
  std::string options = asan != nullptr && *asan != '\0' ? std::string(asan) + ":" : std::string();
  ::setenv("ASAN_OPTIONS", (options + "quarantine_size_mb=0:thread_local_quarantine_size_kb=0").c_str(), 1);
  FaultHost host(Shape(6, 2));
  ASSERT_TRUE(host.installed());
  ASSERT_TRUE(host.StartServer(5));
  const pid_t pid = host.serverPid();

  // Warm-up: one of each kind, so that what is made once is made.
  for (int round = 0; round < 8; ++round) OrdinarySession(host.port(), round);
  ASSERT_TRUE(Answers(host.port()));
  const std::vector<std::string> fds = OpenFiles(pid);
  const long rss = ResidentKib(pid);
  ASSERT_FALSE(fds.empty());
  ASSERT_GT(rss, 0);

  std::mt19937 rng(20240611);
  for (int round = 0; round < 200; ++round) {
    OrdinarySession(host.port(), round);
    if (::testing::Test::HasFatalFailure()) FAIL() << "session " << round;
  }
  for (int round = 0; round < 50; ++round) GarbageSession(host.port(), rng);

  ASSERT_TRUE(Answers(host.port())) << host.ServerOutput();
  EXPECT_EQ(Lines(OpenFiles(pid)), Lines(fds));
  // 1 MiB: about 4 KiB kept per session would show.
  EXPECT_LE(ResidentKib(pid), rss + 1024) << "resident memory grew from " << rss << " KiB";
  // No run was started: there is no report.
  EXPECT_EQ(host.Reports("backup"), std::vector<std::string>{});
  EXPECT_EQ(host.Reports("restore"), std::vector<std::string>{});
}

}  // namespace
}  // namespace faults
