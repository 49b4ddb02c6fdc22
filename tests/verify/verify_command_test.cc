// The VerifySnapshot command over a real connection, and arkctl's verify
// command against a service loop in this process.
#include "verify/verify_command.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "net/command.h"
#include "net/listener.h"
#include "net/session.h"
#include "net/wire.h"
#include "net/wire_records.h"
#include "tests/verify/verify_test_host.h"

namespace verifytest {
namespace {

class VerifyCommandTest : public VerifyHostTest {
 protected:
  void SetUp() override {
    VerifyHostTest::SetUp();
    SetIoTimeoutMilliseconds(5000);
    RegisterVerifyCommand();
    // Discovery answers with the one server record of the test.
    RegisterCommand(CommandCode::DiscoverServers, [this](platform::SOCKET client, Command&) {
      SendByte(client, 1);
      SendDiscoveryReplyTail(client, 1, false, "HOST1", {server_});
      return true;
    });
    listener_ = CreateListener(0);
    port_ = platform::LocalPort(listener_.get());
    ASSERT_EQ(platform::Listen(listener_.get(), kListenBacklog), 0);
    service_ = std::thread([this] {
      while (!stop_) ServeOneConnection(listener_.get(), 50);
    });
  }
  void TearDown() override {
    stop_ = true;
    if (service_.joinable()) service_.join();
    UnregisterCommand(int(CommandCode::DiscoverServers));
    UnregisterCommand(int(CommandCode::VerifySnapshot));
    SetIoTimeoutSeconds(kDefaultIoTimeoutSeconds);
    VerifyHostTest::TearDown();
  }

  platform::Socket Connect() {
    std::string error;
    platform::Socket client = platform::ConnectTcp("127.0.0.1", port_, &error);
    EXPECT_TRUE(client.valid()) << error;
    return client;
  }
  std::vector<std::string> Reports() const {
    std::vector<std::string> texts;
    if (!fs::exists(root_ / "reports" / "Backup")) return texts;
    for (const auto& entry : fs::directory_iterator(root_ / "reports" / "Backup"))
      texts.push_back(ReadHostFile(entry.path()));
    return texts;
  }
  int Arkctl(const std::string& arguments, std::string& output) {
    const std::string command =
        std::string(ARKCTL_PATH) + " --port " + std::to_string(port_) + " " + arguments + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return -1;
    char buffer[4096];
    std::size_t n;
    output.clear();
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    const int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  platform::Socket listener_;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread service_;
};

TEST_F(VerifyCommandTest, StreamsTheFindingsThenDoneAndKeepsThemAsABackupReport) {
  const auto before = Listing(root_);
  platform::Socket client = Connect();
  SendByte(client.get(), 16);
  EXPECT_EQ(RecvByte(client.get()), 1);
  SendDominoServerInfo(client.get(), server_);
  SendString(client.get(), "");

  std::vector<std::string> strings;
  for (;;) {
    std::string text = RecvString(client.get());
    if (text == "done") break;
    strings.push_back(text);
  }
  ASSERT_GE(strings.size(), 4u);
  EXPECT_EQ(strings.front(), "Verifying the snapshots of server srv1 on drive E:\r\n");
  // One message per string, each with its line end; the verdicts close it.
  for (const auto& s : strings) EXPECT_EQ(s.substr(s.size() - 2), "\r\n") << s;
  EXPECT_EQ(strings[strings.size() - 3], kSnapC + ": restorable up to the minute\r\n");
  EXPECT_EQ(strings[strings.size() - 2], kSnapB + ": restorable up to the minute\r\n");
  EXPECT_EQ(strings[strings.size() - 1], kSnapA + ": restorable up to the minute\r\n");

  // The session goes on; code 17 is still unknown.
  SendByte(client.get(), 17);
  EXPECT_EQ(RecvByte(client.get()), 255);
  SendByte(client.get(), 15);
  EXPECT_EQ(RecvByte(client.get()), 1);

  std::string all;
  for (const auto& s : strings) all += s;
  const auto reports = Reports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0], all);
  EXPECT_EQ(Listing(root_), before);  // only the report folder changed
}

TEST_F(VerifyCommandTest, ATruncatedRequestEndsTheSessionWithoutAReportAndTheServiceGoesOn) {
  {
    platform::Socket client = Connect();
    SendByte(client.get(), 16);
    EXPECT_EQ(RecvByte(client.get()), 1);
    SendDominoServerInfo(client.get(), server_);
    SendU32(client.get(), 40);  // a name of 40 bytes, of which 3 come
    SendByte(client.get(), 'a');
    SendByte(client.get(), 'b');
    SendByte(client.get(), 'c');
  }
  // The next client is served, and nothing was verified or saved.
  platform::Socket next = Connect();
  SendByte(next.get(), 12);
  EXPECT_EQ(RecvByte(next.get()), 1);
  SendByte(next.get(), 15);
  EXPECT_EQ(RecvByte(next.get()), 1);
  EXPECT_TRUE(Reports().empty());
  EXPECT_TRUE(component_->state().calls.empty());
}

TEST_F(VerifyCommandTest, ArkctlVerifyShowsTheFindingsAndExitsByTheVerdicts) {
  std::string output;
  EXPECT_EQ(Arkctl("verify SRV1", output), 0) << output;
  EXPECT_NE(output.find(kSnapA + ": restorable up to the minute\r\n"), std::string::npos) << output;

  // Point in time only is still a restorable snapshot.
  fs::remove(Ledger(kSnapA) / "log_hint");
  EXPECT_EQ(Arkctl("verify srv1/Org " + kSnapA, output), 0) << output;
  EXPECT_NE(output.find(kSnapA + ": restorable to point in time only (no log_hint)\r\n"), std::string::npos)
      << output;
  EXPECT_EQ(output.find(kSnapB), std::string::npos) << output;

  // One unrestorable snapshot fails the whole run.
  WriteHostFile(Ledger(kSnapB) / "Domino/Data/names.nsf.dat", "12345");
  EXPECT_EQ(Arkctl("verify srv1", output), 1) << output;
  EXPECT_NE(output.find(kSnapB + ": NOT restorable (damaged change information file)\r\n"), std::string::npos)
      << output;
  EXPECT_NE(output.find("arkctl: verify: a snapshot of srv1/Org is NOT restorable"), std::string::npos)
      << output;

  // Nothing to verify fails too.
  component_->Uninstall();
  EXPECT_EQ(Arkctl("verify srv1", output), 1) << output;
  EXPECT_NE(output.find("could not be verified"), std::string::npos) << output;
  component_->Install();

  // A server the host does not have: nothing is run.
  const std::size_t reports = Reports().size();
  EXPECT_EQ(Arkctl("verify srv9", output), 2) << output;
  EXPECT_NE(output.find("verify: no Domino server named srv9"), std::string::npos) << output;
  EXPECT_EQ(Reports().size(), reports);

  // A service without the command answers 255: said plainly.
  UnregisterCommand(int(CommandCode::VerifySnapshot));
  EXPECT_EQ(Arkctl("verify srv1", output), 1) << output;
  EXPECT_NE(output.find("does not know this command"), std::string::npos) << output;
}

}  // namespace
}  // namespace verifytest
