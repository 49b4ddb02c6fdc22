// The command session in this process: command reading and registration,
// the end of a turn, and streamed operations that end or fail.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "net/command.h"
#include "net/session.h"
#include "net/streaming.h"
#include "net/wire.h"
#include "output/output.h"
#include "reports/report_store.h"
#include "tests/support/loopback.h"
#include "tests/support/temp_host.h"

namespace ark {

using namespace nettest;
namespace fs = std::filesystem;

namespace {

class CommandSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetIoTimeoutMilliseconds(3000);
    SetOutputSendTimeoutSeconds(3);
    fs::create_directories(root_.D() / "Reports");
  }

  // Runs `turns` service turns on a thread of their own.
  void StartService(int turns) {
    service_ = std::thread([this, turns] {
      for (int i = 0; i < turns; ++i) ServeOneConnection(listener_.get(), 5000);
    });
  }
  void StopService() {
    if (service_.joinable()) service_.join();
  }
  void TearDown() override { StopService(); }

  TempHostRoot root_{HostOptions{"D", "", "", "D:\\Reports", ""}};
  platform::Socket listener_ = Listening();
  std::uint16_t port_ = platform::LocalPort(listener_.get());
  std::thread service_;
};

TEST_F(CommandSessionTest, UnregisteredCodesAreUnknownAndRegisteredOnesAreServed) {
  StartService(1);
  platform::Socket client = Connect(port_);
  // 6, 7, 8 and 16 have no handler yet; 0, 200 and 255 never have one.
  WriteRaw(client.get(), Bytes({0, 6, 7, 8, 16, 200, 255}));
  EXPECT_EQ(ReadRaw(client.get(), 7), std::string(7, '\xFF'));

  RegisterCommand(CommandCode::VerifySnapshot, [](platform::SOCKET c, Command& command) {
    SendString(c, "code " + std::to_string(command.code));
    return true;
  });
  WriteRaw(client.get(), Bytes({16}));
  EXPECT_EQ(ReadRaw(client.get(), 11), WireString("code 16"));
  UnregisterCommand(16);
  WriteRaw(client.get(), Bytes({16, 1, 4, 1, char(0x80), 14, 0, 0, 0, 0, 14, 2, 0, 0, 0}));
  // Unknown, two invalid report types, TestFlag 0 and 2.
  EXPECT_EQ(ReadRaw(client.get(), 5), Bytes({0xFF, 2, 2, 1, 7}));
}

TEST_F(CommandSessionTest, FailedTurnsPauseAndReportWithoutEndingTheService) {
  // listen() on no socket fails: the turn writes the text, pauses and
  // returns instead of ending or spinning the service.
  ::testing::internal::CaptureStdout();
  auto started = std::chrono::steady_clock::now();
  ServeOneConnection(platform::INVALID_SOCKET, 100);
  auto took = std::chrono::steady_clock::now() - started;
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "listen() failed.\n");
  EXPECT_GE(took, std::chrono::milliseconds(900));

  // Errors a handler does not catch end the session with their text, and the
  // client's connection is closed.
  struct Refusal : ARKError {
    std::string Text() const override { return "refused by the handler"; }
  };
  RegisterCommand(20, [](platform::SOCKET, Command&) -> bool { throw Refusal(); });
  RegisterCommand(21, [](platform::SOCKET, Command&) -> bool { throw std::bad_alloc(); });
  ::testing::internal::CaptureStdout();
  StartService(2);
  for (int code : {20, 21}) {
    platform::Socket client = Connect(port_);
    WriteRaw(client.get(), Bytes({code}));
    EXPECT_TRUE(PeerClosed(client.get()));
  }
  StopService();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "refused by the handler\nunknown error\n");
  EXPECT_THROW(RegisterCommand(-1, nullptr), std::invalid_argument);
}

// A client gone in the middle of a run is the whole-host tests' (the run
// goes on, its report is kept, the next client is served).
TEST_F(CommandSessionTest, StreamedOperationsEndWithDoneAndKeepTheirReportWhenTheyFail) {
  std::atomic<bool> fail{false};
  RegisterCommand(CommandCode::RunBackup, [&](platform::SOCKET c, Command&) {
    SendByte(c, 1);
    RunStreamingOperation(c, "Backup", [&] {
      OutputSink sink;
      Output(sink, "line 0\r\n");
      if (fail) throw std::string("backup broke");
    });
    return true;
  });
  ::testing::internal::CaptureStdout();
  StartService(1);
  // A run sends its text, then "done"; a failed one ends the session instead.
  platform::Socket client = Connect(port_);
  WriteRaw(client.get(), Bytes({7}));
  EXPECT_EQ(ReadRaw(client.get(), 1 + 12 + 8), Bytes({1}) + WireString("line 0\r\n") + WireString("done"));
  fail = true;
  WriteRaw(client.get(), Bytes({7}));
  EXPECT_EQ(ReadRaw(client.get(), 1 + 12), Bytes({1}) + WireString("line 0\r\n"));
  EXPECT_TRUE(PeerClosed(client.get()));
  StopService();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "backup broke\n");
  std::vector<std::string> saved;
  for (const std::string& name : TheReportStore().ListReports(Backup))
    saved.push_back(TheReportStore().ReadReport(Backup, name));
  EXPECT_EQ(saved, (std::vector<std::string>{"line 0\r\n", "line 0\r\n"}));
  EXPECT_EQ(ReportText(), "");
}

}  // namespace

}  // namespace ark
