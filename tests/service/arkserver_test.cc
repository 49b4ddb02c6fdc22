// A real arkserver: its life under the stop control, the event source it
// registers, its command line, and whole sessions over loopback.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

#include "platform/files.h"
#include "tests/support/child_process.h"
#include "tests/support/loopback.h"
#include "tests/support/snapshotsvc_mount.h"
#include "tests/support/temp_host.h"
#include "tests/support/text_checks.h"

namespace ark {

using namespace nettest;
using namespace std::string_literals;
namespace fs = std::filesystem;

namespace {

// A real arkserver child process on a free loopback port, with a fresh host
// whose report folder is C:\Reports (DIR/Reports); its output (standard
// output and error) is read as the test needs it.
struct ArkServer {
  std::string root() const { return host_.path().string(); }

  // Reads the output up to "listening on port N"; false when it ended first.
  bool Start(int ioTimeoutSeconds = 45) {
    child_ = std::make_unique<ChildProcess>(ProgramBesideTest("arkserver"),
                                            std::vector<std::string>{"--root", root(), "--port", "0", "--io-timeout",
                                                                     std::to_string(ioTimeoutSeconds)});
    const std::string listening = "arkserver: listening on port ";
    const auto at = ReadUntil(listening).find(listening);
    if (at != std::string::npos) port_ = std::uint16_t(std::stoi(output_.substr(at + listening.size())));
    return at != std::string::npos;
  }
  // Reads the output until it holds text (or ends); the output so far.
  const std::string& ReadUntil(const std::string& text) {
    for (std::string line = "-"; !line.empty() && output_.find(text) == std::string::npos;) {
      line = child_->ReadLine(30000);
      output_ += line + "\n";
    }
    return output_;
  }
  // The stop control (SIGTERM); WaitForExit reads the output to its end.
  void SendStop() { ::kill(child_->id(), SIGTERM); }
  int WaitForExit() {
    output_ += child_->ReadAll();
    return child_->Wait();
  }

  // Tried again while refused: the listener listens only once its first turn starts.
  platform::Socket Connect() const {
    std::string error;
    for (int i = 0; i < 1000; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
      if (platform::Socket s = platform::ConnectTcp("127.0.0.1", port_, &error); s.valid()) return s;
    }
    ADD_FAILURE() << error;
    return {};
  }

  TempHostRoot host_{HostOptions{"D", "", "", "C:\\Reports", ""}};
  std::unique_ptr<ChildProcess> child_;
  std::string output_;
  std::uint16_t port_ = 0;
};

// A report request: get time (2), read (3) or delete (4), of a type and a name.
std::string Request(int op, int type, const std::string& name) { return Bytes({op, type}) + WireString(name); }

class ArkServerTest : public ::testing::Test, public ::testing::WithParamInterface<std::size_t> {
 protected:
  std::string Log() const { return ReadHostFile(server_.root() + "/Logs/Application.log"); }
  ArkServer server_;
};

// One session: a report's time, hostile report names refused (nothing outside
// the type folders touched); the stop control ends the service after it.
TEST_F(ArkServerTest, ASessionServesQueriesAndReportsAndOutlivesTheStopControl) {
  WriteHostFile(server_.root() + "/Reports/Backup/abc", "backup text\r\n");
  ASSERT_TRUE(server_.Start());
  EXPECT_TRUE(Has(Log(), "40000065"));
  platform::Socket client = server_.Connect();
  SOCKET c = client.get();

  WriteRaw(c, Request(2, 1, "abc"));
  FILETIME time{};
  ASSERT_EQ(platform::GetLastWriteTime("C:\\Reports\\Backup\\abc", time), 0u);
  EXPECT_EQ(ReadRaw(c, 9), Bytes({1}) + U32(time.dwLowDateTime) + U32(time.dwHighDateTime));

  // Type 7 is refused before the name is read: the name's bytes are read as
  // commands (here Noop and QueryZero).
  WriteRaw(c, Bytes({2, 7, 12, 13}));
  EXPECT_EQ(ReadRaw(c, 7), Bytes({2, 1, 1, 0, 0, 0, 0}));

  WriteHostFile(server_.root() + "/Reports/secret", "outside the type folders");
  WriteHostFile(server_.root() + "/Reports/Backup/keep", "kept");
  const std::vector<std::string> before = snaptest::Listing(server_.root());
  for (const std::string& name :
       {""s, "."s, ".."s, "..\\secret"s, "../secret"s, "C:secret"s, "a/b"s, "..\\..\\registry.reg"s, "keep\0x"s}) {
    WriteRaw(c, Request(3, 1, name) + Request(2, 1, name) + Request(4, 1, name));
    EXPECT_EQ(ReadRaw(c, 3), Bytes({4, 3, 6})) << name;
  }
  EXPECT_EQ(snaptest::Listing(server_.root()), before) << "a refused name touched the host";
  server_.SendStop();  // the open session is still served
  WriteRaw(c, Bytes({13}));
  EXPECT_EQ(ReadRaw(c, 5), Bytes({1, 0, 0, 0, 0}));
  WriteRaw(c, Bytes({15, 12}));
  EXPECT_EQ(ReadRaw(c, 1), Bytes({1}));
  EXPECT_TRUE(PeerClosed(c));  // nothing more is read from this client
  EXPECT_EQ(server_.WaitForExit(), 0) << server_.output_;
  EXPECT_TRUE(Has(Log(), "40000066"));
}

// Starts that fail: the exit code and the text that says why. ROOT stands
// for the host root (whose blocked/registry.reg cannot be written), TAKEN for
// a port in use.
const struct {
  std::vector<std::string> args;
  int exitCode;
  std::string text;
} kStarts[] = {
    {{"--root", "ROOT", "--port", "TAKEN"}, 2, "cannot listen on port TAKEN: bind() failed."},
    {{"--port", "0"}, 106, "--root"},
    {{"--root", "ROOT", "--io-timeout", "0"}, 105, "--io-timeout"},
    {{"--root", "ROOT/blocked", "--port", "0"}, 1,
     "Unable to create registry key SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\arksvc"},
};

TEST_P(ArkServerTest, ListenerFailureAndBadCommandLinesStopTheServiceWithAClearMessage) {
  const auto& [args, exitCode, text] = kStarts[GetParam()];
  platform::Socket taken = Listening();
  const std::string port = std::to_string(platform::LocalPort(taken.get()));
  fs::create_directories(server_.root() + "/blocked/registry.reg");
  const auto fill = [&](std::string arg) {
    if (arg.starts_with("ROOT")) arg.replace(0, 4, server_.root());
    if (const auto at = arg.find("TAKEN"); at != std::string::npos) arg.replace(at, 5, port);
    return arg;
  };
  std::vector<std::string> filled;
  for (const std::string& arg : args) filled.push_back(fill(arg));
  ChildProcess arkserver(ProgramBesideTest("arkserver"), filled);
  const std::string output = arkserver.ReadAll();
  EXPECT_EQ(arkserver.Wait(), exitCode) << output;
  EXPECT_TRUE(Has(output, fill(text))) << output;
  EXPECT_EQ(Has(Log(), "40000066"), exitCode == 2) << "a started service's clean-up still wrote its event";
}
INSTANTIATE_TEST_SUITE_P(Rows, ArkServerTest, ::testing::Range<std::size_t>(0, std::size(kStarts)));

// A silent client loses its session after the I/O time-out; the next is served.
// A client outside ALLOWED_CLIENTS is closed unread and an event names it;
// edits of the setting apply to the next client.
TEST_F(ArkServerTest, SilentAndRefusedClientsAreDroppedAndTheNextIsServed) {
  ASSERT_TRUE(server_.Start(1));
  platform::Socket silent = server_.Connect();
  platform::Socket waiting = server_.Connect();
  WriteRaw(waiting.get(), Bytes({12}));
  EXPECT_TRUE(PeerClosed(silent.get(), 10000));
  EXPECT_EQ(ReadRaw(waiting.get(), 1, 10000), Bytes({1}));
  waiting.reset();
  EXPECT_TRUE(Has(server_.ReadUntil("recv timed out\n"), "recv timed out\n")) << server_.output_;

  WriteHostFile(server_.root() + "/Windows/ark.ini", "[NOTES]\r\nALLOWED_CLIENTS=10.9.9.9,192.168.0.0/16\r\n");
  {
    platform::Socket refused = server_.Connect();
    platform::Send(refused.get(), "\x0c", 1);  // a Noop, never read
    EXPECT_TRUE(PeerClosed(refused.get()));    // an orderly end or a reset
  }
  EXPECT_TRUE(Has(Log(), "127.0.0.1")) << Log();
  WriteHostFile(server_.root() + "/Windows/ark.ini", "[NOTES]\r\nALLOWED_CLIENTS=127.0.0.0/8\r\n");
  platform::Socket admitted = server_.Connect();
  WriteRaw(admitted.get(), Bytes({14}) + U32(0));
  EXPECT_EQ(ReadRaw(admitted.get(), 1, 10000), Bytes({1}));
}

}  // namespace

}  // namespace ark
