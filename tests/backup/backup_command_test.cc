// The RunBackup command over a real connection, and arkctl's backup command
// against a service loop in this process.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "backup/backup_command.h"
#include "fake_domino.h"
#include "fake_snapshot.h"
#include "net/command.h"
#include "net/listener.h"
#include "net/session.h"
#include "net/wire.h"
#include "net/wire_records.h"
#include "output/operation_lock.h"
#include "test_host.h"

namespace {

class BackupCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallFakeSnapshotComponent();
    host_.WriteFile("volumes/D/Domino/Data/a.nsf", "A");
    dom_.databases["D:\\Domino\\Data\\a.nsf"].changeInfo = "changes";
    RegisterBackupCommand();
    RegisterCommand(CommandCode::DiscoverServers, [this](platform::SOCKET client, Command&) {
      SendByte(client, 1);
      SendDiscoveryReplyTail(client, 1, false, "ARKHOST", {server_});
      return true;
    });
    listener_ = CreateListener(0);
    port_ = platform::LocalPort(listener_.get());
    ASSERT_EQ(platform::Listen(listener_.get(), kListenBacklog), 0);  // clients may connect at once
    StartService();
  }
  void TearDown() override {
    StopService();
    UnregisterCommand(int(CommandCode::DiscoverServers));
    UnregisterCommand(int(CommandCode::RunBackup));
    platform::UnregisterClassServer(snapshot::CLSID_SnapshotService);
  }
  void StartService() {
    stop_ = false;
    service_ = std::thread([this] {
      while (!stop_) ServeOneConnection(listener_.get(), 50);
    });
  }
  void StopService() {
    stop_ = true;
    if (service_.joinable()) service_.join();
  }
  std::vector<std::string> SavedReports() {
    std::vector<std::string> texts;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(host_.Host("volumes/L/Reports/Backup"), ignored))
      texts.push_back(host_.ReadFile("volumes/L/Reports/Backup/" + entry.path().filename().string()));
    return texts;
  }
  // Sends code 7, the request and the record; the client's connection.
  platform::Socket StartBackup(const BackupRequest& request) {
    std::string error;
    platform::Socket client = platform::ConnectTcp("127.0.0.1", port_, &error);
    EXPECT_TRUE(client.valid()) << error;
    SendByte(client.get(), 7);
    EXPECT_EQ(RecvByte(client.get()), 1);
    SendBackupRequest(client.get(), request);
    SendDominoServerInfo(client.get(), server_);
    return client;
  }
  // arkctl's exit code; its standard output and error in output.
  int Arkctl(const std::string& arguments, std::string& output) {
    std::string command = std::string(ARKCTL_PATH) + " --port " + std::to_string(port_) + " " + arguments + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return -1;
    output.clear();
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
    int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  TestHost host_;
  FakeDomino dom_;
  DominoServerInfo server_ = TestServer();
  platform::Socket listener_;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread service_;
};

TEST_F(BackupCommand, StreamsEachMessageAsOneStringThenDoneAndSavesTheReport) {
  platform::Socket client = StartBackup(BackupRequest());
  std::vector<std::string> strings;
  for (std::string text; (text = RecvString(client.get())) != "done";) strings.push_back(text);
  ASSERT_GE(strings.size(), 10u);
  EXPECT_EQ(strings[0], "Initialize notes system with D:\\Domino\\Data\\notes.ini\r\n");
  EXPECT_EQ(strings[1], "Starting Backup of Server srv1/Org\r\n");
  EXPECT_NE(strings.back().find(": Backup Completed for Server: srv1/Org\r\n"), std::string::npos);
  SendByte(client.get(), 15);  // the session goes on after "done"
  EXPECT_EQ(RecvByte(client.get()), 1);

  std::string all;
  for (const auto& s : strings) all += s;
  EXPECT_EQ(SavedReports(), std::vector<std::string>{all});
}

TEST_F(BackupCommand, AClientThatGoesAwayLeavesACompleteRunAndNothingHeld) {
  StartBackup(BackupRequest());  // the connection closes before the first line
  for (int i = 0; i < 200 && SavedReports().empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::vector<std::string> reports = SavedReports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_NE(reports[0].find("Backup Completed for Server: srv1/Org\r\n"), std::string::npos) << reports[0];
  StopService();
  EXPECT_FALSE(dom_.running);
  EXPECT_TRUE(dom_.inBackup.empty() && dom_.openHandles.empty());
  platform::OperationLockHandle lock;
  EXPECT_TRUE(lock.Acquire(kOperationLockName));
}

TEST_F(BackupCommand, ArkctlBackupShowsTheRunAndExitsByItsOutcome) {
  std::string output;
  EXPECT_EQ(Arkctl("backup SRV1 --keep 5", output), 0) << output;
  EXPECT_NE(output.find("Starting Backup of Server srv1/Org\r\n"), std::string::npos) << output;
  EXPECT_NE(output.find("Removing snapshots in excess of 5\r\n"), std::string::npos) << output;
  EXPECT_NE(output.find("Backup Completed for Server: srv1/Org"), std::string::npos) << output;
  EXPECT_EQ(Arkctl("backup srv1/Org", output), 0) << output;  // without --keep nothing is deleted
  EXPECT_EQ(output.find("Removing snapshots"), std::string::npos) << output;

  server_.archiveLogging = 0;  // a run that stops: its text, and the exit code says so
  EXPECT_EQ(Arkctl("backup srv1", output), 1) << output;
  EXPECT_NE(output.find("ERROR: Server: srv1 is not set to archive mode.\r\n"), std::string::npos) << output;
  EXPECT_NE(output.find("did not complete"), std::string::npos) << output;

  const std::size_t reports = SavedReports().size();  // an unknown server: nothing runs
  EXPECT_EQ(Arkctl("backup srv9", output), 2) << output;
  EXPECT_NE(output.find("no Domino server named srv9"), std::string::npos) << output;
  EXPECT_EQ(SavedReports().size(), reports);

  StopService();  // no service
  listener_.reset();
  EXPECT_EQ(Arkctl("backup srv1", output), 3) << output;
}

}  // namespace
