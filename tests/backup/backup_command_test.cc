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
    server_.serverName = "srv1/Org";
    server_.commonName = "srv1";
    server_.dataDirectory = "D:\\Domino\\Data";
    server_.notesIniPath = "D:\\Domino\\Data\\notes.ini";
    server_.archiveLogging = 1;
    server_.loggingStyle = 1;
    server_.dataVolume.driveLetter = u'D';
    server_.dataVolume.volumeName = "vol_data";
    host_.WriteFile("volumes/D/Domino/Data/a.nsf", "A");
    dom_.databases["D:\\Domino\\Data\\a.nsf"].changeInfo = "changes";

    RegisterBackupCommand();
    // Discovery answers with the one server record of the test.
    RegisterCommand(CommandCode::DiscoverServers, [this](platform::SOCKET client, Command&) {
      SendByte(client, 1);
      SendDiscoveryReplyTail(client, 1, false, "ARKHOST", {server_});
      return true;
    });
    listener_ = CreateListener(0);
    port_ = platform::LocalPort(listener_.get());
    ASSERT_EQ(platform::Listen(listener_.get(), kListenBacklog), 0);  // clients may connect at once
    service_ = std::thread([this] {
      while (!stop_) ServeOneConnection(listener_.get(), 50);
    });
  }
  void TearDown() override {
    stop_ = true;
    service_.join();
    UnregisterCommand(int(CommandCode::DiscoverServers));
    UnregisterCommand(int(CommandCode::RunBackup));
    platform::UnregisterClassServer(snapshot::CLSID_SnapshotService);
  }

  std::vector<std::string> SavedReports() {
    std::vector<std::string> texts;
    if (!std::filesystem::exists(host_.Host("volumes/L/Reports/Backup"))) return texts;
    for (const auto& entry : std::filesystem::directory_iterator(host_.Host("volumes/L/Reports/Backup")))
      texts.push_back(host_.ReadFile("volumes/L/Reports/Backup/" + entry.path().filename().string()));
    return texts;
  }

  // Runs arkctl with the arguments; its exit code, standard output and error.
  int Arkctl(const std::string& arguments, std::string& output) {
    std::string command = std::string(ARKCTL_PATH) + " --port " + std::to_string(port_) + " " + arguments +
                          " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return -1;
    char buffer[4096];
    std::size_t n;
    output.clear();
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  TestHost host_;
  FakeDomino dom_;
  DominoServerInfo server_;
  platform::Socket listener_;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread service_;
};

TEST_F(BackupCommand, StreamsEachMessageAsOneStringThenDoneAndSavesTheReport) {
  std::string error;
  platform::Socket client = platform::ConnectTcp("127.0.0.1", port_, &error);
  ASSERT_TRUE(client.valid()) << error;
  SendByte(client.get(), 7);
  EXPECT_EQ(RecvByte(client.get()), 1);
  BackupRequest request;
  request.deleteExcessSnapshots = false;
  request.keepCount = 4;
  SendBackupRequest(client.get(), request);
  SendDominoServerInfo(client.get(), server_);

  std::vector<std::string> strings;
  for (;;) {
    std::string text = RecvString(client.get());
    if (text == "done") break;
    strings.push_back(text);
  }
  ASSERT_GE(strings.size(), 10u);
  EXPECT_EQ(strings.front(), "Initialize notes system with D:\\Domino\\Data\\notes.ini\r\n");
  EXPECT_EQ(strings[1], "Starting Backup of Server srv1/Org\r\n");
  EXPECT_NE(strings.back().find(": Backup Completed for Server: srv1/Org\r\n"), std::string::npos);
  for (const auto& s : strings) EXPECT_NE(s.find('\n'), std::string::npos) << s;  // whole messages

  // The session goes on after "done".
  SendByte(client.get(), 12);
  EXPECT_EQ(RecvByte(client.get()), 1);
  SendByte(client.get(), 15);
  EXPECT_EQ(RecvByte(client.get()), 1);

  std::string all;
  for (const auto& s : strings) all += s;
  std::vector<std::string> reports = SavedReports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0], all);
}

TEST_F(BackupCommand, AClientThatGoesAwayLeavesACompleteRunAndNothingHeld) {
  {
    std::string error;
    platform::Socket client = platform::ConnectTcp("127.0.0.1", port_, &error);
    ASSERT_TRUE(client.valid()) << error;
    SendByte(client.get(), 7);
    EXPECT_EQ(RecvByte(client.get()), 1);
    SendBackupRequest(client.get(), BackupRequest());
    SendDominoServerInfo(client.get(), server_);
  }  // gone before the first line of the run
  for (int i = 0; i < 200 && SavedReports().empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::vector<std::string> reports = SavedReports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_NE(reports[0].find("Backup Completed for Server: srv1/Org\r\n"), std::string::npos) << reports[0];
  stop_ = true;
  service_.join();
  EXPECT_FALSE(dom_.running);
  EXPECT_TRUE(dom_.inBackup.empty());
  EXPECT_TRUE(dom_.openHandles.empty());
  platform::OperationLockHandle lock;
  EXPECT_TRUE(lock.Acquire(kOperationLockName));
  service_ = std::thread([] {});
}

TEST_F(BackupCommand, ArkctlBackupShowsTheRunAndExitsByItsOutcome) {
  std::string output;
  EXPECT_EQ(Arkctl("backup SRV1 --keep 5", output), 0) << output;
  EXPECT_NE(output.find("Starting Backup of Server srv1/Org\r\n"), std::string::npos) << output;
  EXPECT_NE(output.find("Removing snapshots in excess of 5\r\n"), std::string::npos) << output;
  EXPECT_NE(output.find("Backup Completed for Server: srv1/Org"), std::string::npos) << output;

  // Without --keep no snapshot is deleted.
  EXPECT_EQ(Arkctl("backup srv1/Org", output), 0) << output;
  EXPECT_EQ(output.find("Removing snapshots"), std::string::npos) << output;

  // A run that stops: its text is shown and the exit code says so.
  server_.archiveLogging = 0;
  EXPECT_EQ(Arkctl("backup srv1", output), 1) << output;
  EXPECT_NE(output.find("ERROR: Server: srv1 is not set to archive mode.\r\n"), std::string::npos) << output;
  EXPECT_NE(output.find("did not complete"), std::string::npos) << output;

  // A server the host does not have: nothing is run.
  const std::size_t reportsBefore = SavedReports().size();
  EXPECT_EQ(Arkctl("backup srv9", output), 2) << output;
  EXPECT_NE(output.find("no Domino server named srv9"), std::string::npos) << output;
  EXPECT_EQ(SavedReports().size(), reportsBefore);

  // No service: unreachable.
  stop_ = true;
  service_.join();
  listener_.reset();
  EXPECT_EQ(Arkctl("backup srv1", output), 3) << output;
  stop_ = false;
  service_ = std::thread([] {});
}

}  // namespace
