// The RunRestore command end to end: arkctl finds the server and snapshot by
// discovery, asks for confirmation, sends code 8 and the RestoreRequest; the
// service's session runs the restore, streams its text, sends "done" and
// saves the "Restore" report; arkctl's exit code says whether it completed.
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
#include "reports/report_store.h"
#include "restore/restore_command.h"
#include "restore/restore_hooks.h"
#include "tests/restore/fake_domino.h"
#include "tests/restore/fake_volume_snapshot.h"
#include "tests/restore/restore_test_host.h"

using ::testing::Invoke;

namespace {

struct ChildResult {
  int exitCode = -1;
  std::string output;  // standard output and standard error
};

ChildResult RunArkctl(std::uint16_t port, const std::string& arguments) {
  const std::string command = std::string(ARKCTL_PATH) + " --port " + std::to_string(port) + " " +
                              arguments + " </dev/null 2>&1";
  ChildResult result;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
    result.output.append(buffer, n);
  }
  const int status = ::pclose(pipe);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

class RestoreCommandTest : public ::testing::Test {
 protected:
  RestoreCommandTest() {
    platform::RegSetString(kReportFolderKey, kReportFolderValue, "L:\\Reports");
    std::filesystem::create_directories(host.Host("volumes/L/Reports"));
    RestoreHostChecks checks;
    checks.isDominoRunning = [this] { return dominoRunning.load(); };
    checks.freeDiskMegabytes = [](const std::string&, std::uint32_t& megabytes) {
      megabytes = 10000;
      return true;
    };
    SetRestoreHostChecks(checks);
    domino.currentLog = 42;
    host.MakeRestorableSnapshot(kLogSeries);
    ON_CALL(domino.api, RecoverDatabaseList(_, _, _, _, _))
        .WillByDefault(Invoke([this](const char* packed, ArchivedLogCallbackFn, DWORD, WORD*,
                                     DWORD) -> STATUS {
          recovered = UnpackList(packed);
          return 0;
        }));

    // Discovery answers with the test's server and two snapshots.
    server = RestoreTestHost::MakeRequest(0).server;
    SnapshotEntry recent;
    recent.name = kSnapshotName;
    recent.displayText.Set("3/2/2003 9:05:00");
    SnapshotEntry older;
    older.name = "dominosnap__ARKHOST__srv1__3-1-2003_8.00.00";
    older.displayText.Set("3/1/2003 8:00:00");
    host.WriteFile(host.Host("snapshots/" + older.name + "/Domino/Data/a.nsf"), "older a");
    host.WriteFile(host.Ledger("disabled_databases", older.name), "");
    server.snapshots = {recent, older};
    // A second partition on the same volume, which a revert takes back too.
    DominoServerInfo other = server;
    other.serverName = "srv2/Org";
    other.commonName = "srv2";
    other.dataDirectory = "D:\\Domino\\Data2";
    other.snapshots.clear();
    RegisterCommand(CommandCode::DiscoverServers, [this, other](platform::SOCKET client, Command&) {
      SendByte(client, 1);
      SendDiscoveryReplyTail(client, 2, true, "ARKHOST", {server, other});
      return true;
    });
    RegisterRestoreCommand();

    listener = CreateListener(0);
    // Listening before the service thread starts, so that a client never
    // finds the port closed.
    platform::Listen(listener.get(), kListenBacklog);
    port = platform::LocalPort(listener.get());
    service = std::thread([this] {
      while (!stop) ServeOneConnection(listener.get(), 100);
    });
  }
  ~RestoreCommandTest() override {
    stop = true;
    service.join();
    UnregisterCommand(int(CommandCode::DiscoverServers));
    UnregisterCommand(int(CommandCode::RunRestore));
    ResetRestoreHostChecks();
  }

  std::vector<std::string> RestoreReports() const {
    std::vector<std::string> texts;
    const std::string folder = host.Host("volumes/L/Reports/Restore");
    if (!std::filesystem::is_directory(folder)) return texts;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      texts.push_back(RestoreTestHost::ReadFile(entry.path().string()));
    }
    return texts;
  }

  RestoreTestHost host;
  FakeDomino domino;
  FakeVolumeSnapshotComponent component;
  DominoServerInfo server;
  std::vector<std::string> recovered;
  std::atomic<bool> dominoRunning{false};
  platform::Socket listener;
  std::uint16_t port = 0;
  std::atomic<bool> stop{false};
  std::thread service;
};

TEST_F(RestoreCommandTest, ARestoreByNameRunsStreamsAndIsReported) {
  const ChildResult run = RunArkctl(port, "restore srv1 recent --yes");
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("Restoring snapshot: " + std::string(kSnapshotName) + "\r\n"),
            std::string::npos);
  EXPECT_NE(run.output.find("Copying log file : S0000041.TXN\r\n"), std::string::npos);
  const std::string end = "SNAPSHOT RESTORE AND RECOVERY COMPLETE.\r\nRESTART DOMINO IMMEDIATELY\r\n";
  ASSERT_GE(run.output.size(), end.size());
  EXPECT_EQ(run.output.substr(run.output.size() - end.size()), end);

  EXPECT_EQ(component.state->calls,
            (std::vector<std::string>{"Restore D " + std::string(kSnapshotName)}));
  EXPECT_EQ(recovered, (std::vector<std::string>{"D:\\Domino\\Data\\a.nsf"}));
  const std::vector<std::string> reports = RestoreReports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0], run.output);
}

TEST_F(RestoreCommandTest, APointInTimeRestoreByTimeNeedsConfirmation) {
  // No terminal and no --yes: nothing is sent to the service.
  ChildResult run = RunArkctl(port, "restore srv1/Org \"3/1/2003 8:00:00\" --point-in-time");
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.output.find("confirmation needed"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("The volume D: also holds the data of other Domino servers, which the revert takes\n"
                            "back to the snapshot too (their databases are not recovered):\n"
                            "  D:\\Domino\\Data2 (srv2/Org)\n"),
            std::string::npos)
      << run.output;
  EXPECT_TRUE(component.state->calls.empty());
  EXPECT_TRUE(RestoreReports().empty());

  run = RunArkctl(port, "restore srv1/Org \"3/1/2003 8:00:00\" --point-in-time --yes");
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("Transactions will be applied up to 3/1/2003 8:00:00\r\n"),
            std::string::npos);
  EXPECT_EQ(component.state->calls,
            (std::vector<std::string>{"Restore D dominosnap__ARKHOST__srv1__3-1-2003_8.00.00"}));
}

TEST_F(RestoreCommandTest, AFailedOrImpossibleRestoreExitsNonZero) {
  ChildResult run = RunArkctl(port, "restore srv1 1/1/1999 --yes");
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.output.find("no snapshot of srv1/Org is 1/1/1999"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find(kSnapshotName), std::string::npos);

  run = RunArkctl(port, "restore srv9 recent --yes");
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.output.find("no Domino server named srv9"), std::string::npos) << run.output;

  dominoRunning = true;
  run = RunArkctl(port, "restore srv1 recent --yes");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.output.rfind(
                "ERROR: Domino is running. It needs to be shutdown before the restore process "
                "occurs.\r\nRestore canceled.\r\n",
                0),
            0u)
      << run.output;
  EXPECT_NE(run.output.find("did not complete"), std::string::npos);
  EXPECT_TRUE(component.state->calls.empty());
  EXPECT_EQ(RestoreReports().size(), 1u);
}

}  // namespace
