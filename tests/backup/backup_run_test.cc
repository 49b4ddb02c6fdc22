// The backup run of one server, through the real snapshot cycle, against a
// fake runtime and a fake snapshot component on a temporary host.
#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "backup/backup_run.h"
#include "domino/settings.h"
#include "fake_domino.h"
#include "fake_snapshot.h"
#include "output/operation_lock.h"
#include "output/output.h"
#include "platform/oplock.h"
#include "test_host.h"

namespace {

const std::string kRecent = "dominosnap__ARKHOST__SRV1__recent";
const std::string kRecentDir = "volumes/L/ArkLedger/srv1/" + kRecent;

std::string WithoutTimes(const std::string& text) {
  static const std::regex stamp(R"(\d{1,2}/\d{1,2}/\d{4} \d\d:\d\d:\d\d:\d{2,3}: )");
  return std::regex_replace(text, stamp, "<T>: ");
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class BackupRun : public ::testing::Test {
 protected:
  void SetUp() override { InstallFakeSnapshotComponent(); }
  void TearDown() override { platform::UnregisterClassServer(snapshot::CLSID_SnapshotService); }

  // a.nsf (logged, extent 8) and mail\b.nsf (not logged); one archivable log.
  void TwoDatabasesAndALog() {
    host_.WriteFile("volumes/D/Domino/Data/a.nsf", "A");
    host_.WriteFile("volumes/D/Domino/Data/mail/b.nsf", "B");
    host_.WriteFile("volumes/D/Logs/S0000007.TXN", "the log");
    dom_.databases[A].changeInfo = "changes of a";
    dom_.databases[B].changeInfo = "changes of b";
    dom_.databases[A].logExtent = 8;  // the backup starts in log 8: log 7 is full
    dom_.databases[B].logged = 0;
    dom_.logs = {{7, "D:\\Logs\\S0000007.TXN"}};
  }
  std::string BackupWiz() {
    std::string value;
    ReadNotesSetting("BACKUPWIZ", value, GetArkIniPath());
    return value;
  }
  bool LockIsFree() {
    platform::OperationLockHandle lock;
    return lock.Acquire(kOperationLockName);
  }
  int Run() {
    struct Quiet {  // the log archiving prints a line
      Quiet() { testing::internal::CaptureStdout(); }
      ~Quiet() { testing::internal::GetCapturedStdout(); }
    } quiet;
    return BackupServer(request_, server_);
  }
  // After any run: nothing open, nothing in backup, runtime ended, lock free.
  void ExpectNothingHeld() {
    EXPECT_TRUE(dom_.inBackup.empty() && dom_.openHandles.empty());
    EXPECT_FALSE(dom_.running);
    EXPECT_TRUE(LockIsFree());
  }

  const std::string A = "D:\\Domino\\Data\\a.nsf";
  const std::string B = "D:\\Domino\\Data\\mail\\b.nsf";
  TestHost host_;
  FakeDomino dom_;
  BackupRequest request_;
  DominoServerInfo server_ = TestServer();
};

TEST_F(BackupRun, ASuccessfulRunSaysExactlyThisAndLeavesEveryArtefact) {
  TwoDatabasesAndALog();
  std::size_t inBackupAtSnapshot = 0;
  FakeStorage::Get().onCreate = [&](const std::string&) {
    inBackupAtSnapshot = dom_.inBackup.size();
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
  };
  ASSERT_EQ(Run(), 0);

  const std::string text = ReportText();
  EXPECT_EQ(WithoutTimes(text),
            "Initialize notes system with D:\\Domino\\Data\\notes.ini\r\n"
            "Starting Backup of Server srv1/Org\r\n"
            "<T>: Snapshot will occur on VOL vol_data for Virtual Disk D\r\n"
            "Enumerating Snapshots (in order to rename recent to time/date)\r\n"
            "Enumerating Snapshots COMPLETE\r\n"
            "There are currently 0 snapshots on VOL vol_data.\n"
            "Placing Domino server in backup mode\r\n"
            "Recording Domino changes\r\n"
            "WARNING: Database D:\\Domino\\Data\\mail\\b.nsf is disabled for logging (WILL NOT BE RECOVERABLE).\r\n"
            "Completed CreateSnapShot method\r\n"
            "Stopping Domino backup mode...\r\n"
            "\r\nDomino backup mode stop completed\r\n"
            "Returned from backup mode\r\n"
            "Copying logs to ArkLedger dir...\r\n"
            "Archiving D:\\Logs\\S0000007.TXN\r\n"
            "Completed log copy.\r\n"
            "Enumerating Snapshots (in order to find recent)\r\n"
            "Enumerating Snapshots COMPLETE\r\n"
            "<T>: Snapshot Complete on VOL vol_data for Virtual Disk D\r\n"
            "<T>: Backup Completed for Server: srv1/Org\r\n");
  // Each stamp is the time its line was made: the snapshot took 60 ms.
  static const std::regex stamp(R"((\d\d):(\d\d):(\d\d):(\d{2,3}): )");
  std::vector<long> ms;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), stamp); it != std::sregex_iterator(); ++it)
    ms.push_back(((std::stol((*it)[1]) * 60 + std::stol((*it)[2])) * 60 + std::stol((*it)[3])) * 1000 +
                 std::stol((*it)[4]));
  ASSERT_EQ(ms.size(), 3u);
  EXPECT_GE(ms[1] - ms[0], 50);

  EXPECT_EQ(inBackupAtSnapshot, 2u);  // the snapshot was taken in backup mode
  ExpectNothingHeld();
  EXPECT_EQ(dom_.calls.front(), "InitRuntime 2 =D:\\Domino\\Data\\notes.ini");
  EXPECT_EQ(dom_.calls.back(), "TermRuntime");
  ASSERT_EQ(FakeStorage::Get().snapshots.size(), 1u);
  EXPECT_EQ(platform::WideToAnsi(FakeStorage::Get().snapshots[0].name), kRecent);
  EXPECT_EQ(host_.ReadFile(kRecentDir + "/Domino/Data/a.nsf.dat"), std::string("\x0c\0\0\0\0\0\0\0", 8) + "changes of a");
  EXPECT_EQ(host_.ReadFile(kRecentDir + "/Domino/Data/mail/b.nsf.dat"),
            std::string("\x0c\0\0\0\0\0\0\0", 8) + "changes of b");
  EXPECT_EQ(host_.ReadFile(kRecentDir + "/log_hint"), "8\r\n0000000f");
  EXPECT_EQ(host_.ReadFile(kRecentDir + "/disabled_databases"), B + "\r\n");
  EXPECT_EQ(host_.ReadFile(kRecentDir + "/change_info_list"),
            "20 Domino\\Data\\a.nsf.dat\r\n20 Domino\\Data\\mail\\b.nsf.dat\r\n");
  EXPECT_EQ(host_.ReadFile(kRecentDir + "/logs/S0000007.TXN"), "the log");
  EXPECT_EQ(dom_.marked, std::vector<DWORD>{7});
  EXPECT_EQ(BackupWiz(), "1");
  const std::string events = host_.ReadFile("Logs/Application.log");
  EXPECT_TRUE(Has(events, "40000071") && Has(events, kRecent)) << events;
  EXPECT_FALSE(Has(events, "4000006C") || Has(events, "4000006c")) << events;
}

TEST_F(BackupRun, RefusedServersStopBeforeAnythingIsTouched) {
  server_.archiveLogging = 0;  // circular or no logging
  EXPECT_EQ(Run(), -1);
  EXPECT_EQ(ReportText(), "ERROR: Server: srv1 is not set to archive mode.\r\n"
                          "Only archival transaction logging is supported.\r\nBackup aborted.\r\n");
  EXPECT_EQ(request_.output.accumulated, ReportText());  // one message
  EXPECT_TRUE(dom_.calls.empty());

  // The ArkLedger on the data volume: a restore would revert it too.
  server_.archiveLogging = 1;
  WriteNotesSetting("CHANGE_INFO_DIR", "D:\\ArkLedger", GetArkIniPath());
  EXPECT_EQ(Run(), -1);
  EXPECT_EQ(ReportText(),
            "ERROR: The ArkLedger directory D:\\ArkLedger (CHANGE_INFO_DIR) lies on drive D:, the data volume "
            "of server srv1/Org.\r\nA restore reverts that volume and would take the ArkLedger back to a time "
            "before the change information was written.\r\nMove the ArkLedger directory to a drive other than "
            "D: and set CHANGE_INFO_DIR in C:\\Windows\\ark.ini to its new place.\r\nBackup aborted.\r\n");
  EXPECT_TRUE(dom_.calls.empty());
  EXPECT_FALSE(host_.Exists("volumes/D/ArkLedger"));
  WriteNotesSetting("CHANGE_INFO_DIR", "L:\\ArkLedger", GetArkIniPath());

  // The runtime does not start: no end for it.
  server_.notesIniPath.clear();
  dom_.initStatus = 0x0102;
  EXPECT_EQ(Run(), -1);
  EXPECT_EQ(ReportText(), "Initialize notes system with \r\nERROR: cannot initialize notes for Server srv1/Org\r\n");
  EXPECT_EQ(dom_.calls, std::vector<std::string>{"InitRuntime 0"});

  dom_.initStatus = 0;  // another backup or restore holds the lock
  dom_.calls.clear();
  {
    platform::OperationLockHandle other;
    ASSERT_TRUE(other.Acquire(kOperationLockName));
    EXPECT_EQ(Run(), -1);
    EXPECT_EQ(ReportText(), "ERROR: ARK backup or restore in progress (probably a scheduled event).\r\n");
    EXPECT_TRUE(dom_.calls.empty());
  }
  EXPECT_EQ(BackupWiz(), "");
  EXPECT_TRUE(FakeStorage::Get().calls.empty());
  ExpectNothingHeld();
}

TEST_F(BackupRun, BadDataDirectoriesFailTheCycleAndEndTheRuntime) {
  const std::vector<std::pair<std::string, std::string>> cases{
      {"", "Server directory is not specified\r\n"},
      {"D:\\Domino\\Gone", "Server directory 'D:\\Domino\\Gone' does not exist.\r\n"},
  };
  for (const auto& [directory, line] : cases) {
    server_.dataDirectory = directory;
    EXPECT_EQ(Run(), -1);
    EXPECT_TRUE(Has(ReportText(), "Placing Domino server in backup mode\r\n"
                                  "ERROR: Invalid data directory for Server srv1/Org\r\n" + line +
                                  "Returned from backup mode\r\nFAILED Backup/Snapshot for srv1/Org \r\n"
                                  "ERROR: Snapshot failed on vol_data.\r\n"))
        << ReportText();
    EXPECT_FALSE(Has(ReportText(), "Backup Completed"));
  }
  EXPECT_TRUE(FakeStorage::Get().snapshots.empty());
  EXPECT_EQ(BackupWiz(), "");
  ExpectNothingHeld();
}

TEST_F(BackupRun, NoDatabasesStillTakesTheSnapshotWithAnEmptyDisabledList) {
  ASSERT_EQ(Run(), 0);
  EXPECT_EQ(FakeStorage::Get().snapshots.size(), 1u);
  EXPECT_TRUE(host_.Exists(kRecentDir + "/disabled_databases"));
  EXPECT_EQ(host_.ReadFile(kRecentDir + "/disabled_databases"), "");
  EXPECT_FALSE(host_.Exists(kRecentDir + "/log_hint"));
  EXPECT_TRUE(Has(ReportText(), "Domino reports no logs to archive\r\n"));
  EXPECT_EQ(BackupWiz(), "1");
}

TEST_F(BackupRun, AFailedSnapshotOrCaptureGivesEveryDatabaseUp) {
  TwoDatabasesAndALog();
  FakeStorage::Get().createResult = E_FAIL;
  EXPECT_EQ(Run(), -1);
  EXPECT_TRUE(Has(ReportText(), "ERROR: Could not create snapshot\r\nBackup Aborted.\r\n"
                                "Failed to create snapshot (CreateSnapShot method failed).\r\n"))
      << ReportText();
  EXPECT_TRUE(Has(ReportText(), "FAILED Backup/Snapshot for srv1/Org \r\nERROR: Snapshot failed on vol_data.\r\n"));
  EXPECT_EQ(dom_.Count("BackupEnd " + A + " 1") + dom_.Count("BackupEnd " + B + " 1"), 2);
  EXPECT_EQ(dom_.Count("BackupEnd " + A + " 0"), 0);
  EXPECT_FALSE(host_.Exists(kRecentDir + "/log_hint"));
  EXPECT_TRUE(dom_.marked.empty());  // no log archived for a failed backup
  const std::string events = host_.ReadFile("Logs/Application.log");
  EXPECT_TRUE((Has(events, "4000006C") || Has(events, "4000006c")) && Has(events, "srv1/Org")) << events;
  ExpectNothingHeld();

  FakeStorage::Get().createResult = S_OK;
  dom_.failures["BackupStop " + A] = 0x0105;
  EXPECT_EQ(Run(), -1);
  EXPECT_TRUE(Has(ReportText(), "Stopping Domino backup mode...\r\n"
                                "ERROR: Cannot stop backupmode of  database : " + A + ".\r\nDomino error 0x0105\r\n"
                                "ERROR: Could not properly stop backup.\r\nReturned from backup mode\r\n"))
      << ReportText();
  EXPECT_EQ(FakeStorage::Get().snapshots.size(), 1u);  // what was made stays
  EXPECT_EQ(BackupWiz(), "");
  ExpectNothingHeld();
}

TEST_F(BackupRun, AnExceptionMidRunStillEndsEveryBackupTheRuntimeAndTheLock) {
  TwoDatabasesAndALog();
  dom_.throws.insert("GetChangeInfo " + A);
  EXPECT_THROW(Run(), std::runtime_error);
  ExpectNothingHeld();
  EXPECT_EQ(BackupWiz(), "");
}

TEST_F(BackupRun, DeleteExcessFlagRunsRetentionAfterTheSnapshot) {
  // Two dated snapshots of this server from earlier backups, oldest last.
  auto dated = [](const std::string& stamp, std::uint64_t secondsAgo) {
    FILETIME now;
    platform::GetSystemTimeAsFileTime(now);
    snapshot::SnapshotInfo info;
    info.name = platform::AnsiToWide("dominosnap__ARKHOST__SRV1__" + stamp);
    info.creationTime = U64ToFileTime(FileTimeToU64(now) - secondsAgo * 10000000ull);
    return info;
  };
  FakeStorage::Get().snapshots = {dated("3-2-2020_9.5.7", 3600), dated("3-1-2020_9.5.7", 7200)};
  ASSERT_EQ(Run(), 0);  // flag off: no retention
  EXPECT_FALSE(Has(ReportText(), "Removing snapshots"));
  ASSERT_EQ(FakeStorage::Get().snapshots.size(), 3u);

  // Flag on, keep 3: the old recent snapshot became dated; of four, the oldest goes.
  request_.deleteExcessSnapshots = true;
  request_.keepCount = 3;
  ASSERT_EQ(Run(), 0);
  const std::string text = WithoutTimes(ReportText());
  EXPECT_TRUE(Has(text, "<T>: Snapshot Complete on VOL vol_data for Virtual Disk D\r\n"
                        "<T>: Removing snapshots in excess of 3\r\n"))
      << text;
  EXPECT_TRUE(Has(text, "<T>: Deleted 1 snapshots\r\n<T>: Backup Completed for Server: srv1/Org\r\n")) << text;
  const std::vector<std::string>& calls = FakeStorage::Get().calls;
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "Delete dominosnap__ARKHOST__SRV1__3-1-2020_9.5.7"), 1);

  // Retention that fails after a good snapshot fails the run.
  WriteNotesSetting("BACKUPWIZ", "", GetArkIniPath());
  FakeStorage::Get().enumerations = 0;
  FakeStorage::Get().failEnumerationNumber = 4;  // cycle, hint file, recent time, retention
  EXPECT_EQ(Run(), -1);
  EXPECT_FALSE(Has(ReportText(), "Backup Completed") || Has(ReportText(), "Deleted"));
  EXPECT_EQ(BackupWiz(), "");
  ExpectNothingHeld();
}

}  // namespace
