// The backup run of one server, through the real snapshot cycle, against a
// fake runtime and a fake snapshot component on a temporary host.
#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "backup/backup_run.h"
#include "backup/hint_files.h"
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
const std::string kLockMessage = "ERROR: ARK backup or restore in progress (probably a scheduled event).\r\n";

class BackupRun : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallFakeSnapshotComponent();
    server_.serverName = "srv1/Org";
    server_.commonName = "srv1";
    server_.dataDirectory = "D:\\Domino\\Data";
    server_.notesIniPath = "D:\\Domino\\Data\\notes.ini";
    server_.archiveLogging = 1;
    server_.dataVolume.driveLetter = u'D';
    server_.dataVolume.volumeName = "vol_data";
  }
  void TearDown() override { platform::UnregisterClassServer(snapshot::CLSID_SnapshotService); }

  // a.nsf (logged, extent 7) and mail\b.nsf (not logged); one archivable log.
  void TwoDatabasesAndALog() {
    host_.WriteFile("volumes/D/Domino/Data/a.nsf", "A");
    host_.WriteFile("volumes/D/Domino/Data/mail/b.nsf", "B");
    host_.WriteFile("volumes/D/Logs/S0000007.TXN", "the log");
    dom_.databases[A].changeInfo = "changes of a";
    dom_.databases[B].changeInfo = "changes of b";
    dom_.databases[B].logged = 0;
    FakeLog log;
    log.number = 7;
    log.path = "D:\\Logs\\S0000007.TXN";
    dom_.logs.push_back(log);
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
  std::string Events() { return host_.ReadFile("Logs/Application.log"); }
  int Run() {
    testing::internal::CaptureStdout();  // the log archiving prints a line
    int result = BackupServer(request_, server_);
    testing::internal::GetCapturedStdout();
    return result;
  }

  const std::string A = "D:\\Domino\\Data\\a.nsf";
  const std::string B = "D:\\Domino\\Data\\mail\\b.nsf";
  TestHost host_;
  FakeDomino dom_;
  BackupRequest request_;
  DominoServerInfo server_;
};

std::string WithoutTimes(const std::string& text) {
  static const std::regex stamp(R"(\d{1,2}/\d{1,2}/\d{4} \d\d:\d\d:\d\d:\d{2,3}: )");
  return std::regex_replace(text, stamp, "<T>: ");
}

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
  std::smatch m;
  std::vector<long> ms;
  static const std::regex stamp(R"((\d\d):(\d\d):(\d\d):(\d{2,3}): )");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), stamp); it != std::sregex_iterator(); ++it)
    ms.push_back(((std::stol((*it)[1]) * 60 + std::stol((*it)[2])) * 60 + std::stol((*it)[3])) * 1000 +
                 std::stol((*it)[4]));
  ASSERT_EQ(ms.size(), 3u);
  EXPECT_GE(ms[1] - ms[0], 50);

  // The snapshot was taken while both databases were in backup mode, and
  // nothing stays open or in backup afterwards; the runtime was ended once.
  EXPECT_EQ(inBackupAtSnapshot, 2u);
  EXPECT_TRUE(dom_.inBackup.empty());
  EXPECT_TRUE(dom_.openHandles.empty());
  EXPECT_FALSE(dom_.running);
  EXPECT_EQ(dom_.runtimeEnds, dom_.runtimeStarts);
  EXPECT_EQ(dom_.calls.back(), "TermRuntime");
  EXPECT_EQ(dom_.calls.front(), "InitRuntime 2 =D:\\Domino\\Data\\notes.ini");
  EXPECT_TRUE(LockIsFree());

  EXPECT_EQ(FakeStorage::Get().snapshots.size(), 1u);
  EXPECT_EQ(platform::WideToAnsi(FakeStorage::Get().snapshots[0].name), kRecent);
  EXPECT_EQ(host_.ReadFile(kRecentDir + "/Domino/Data/a.nsf.dat"),
            std::string("\x0c\0\0\0\0\0\0\0", 8) + "changes of a");
  EXPECT_EQ(host_.ReadFile(kRecentDir + "/Domino/Data/mail/b.nsf.dat"),
            std::string("\x0c\0\0\0\0\0\0\0", 8) + "changes of b");
  EXPECT_EQ(host_.ReadFile(kRecentDir + "/log_hint"), "7\r\n0000000f");
  EXPECT_EQ(host_.ReadFile(kRecentDir + "/disabled_databases"), B + "\r\n");
  EXPECT_EQ(host_.ReadFile(kRecentDir + "/logs/S0000007.TXN"), "the log");
  EXPECT_EQ(dom_.marked, std::vector<DWORD>{7});
  EXPECT_EQ(BackupWiz(), "1");

  const std::string events = Events();
  EXPECT_NE(events.find("40000071"), std::string::npos) << events;
  EXPECT_NE(events.find(kRecent), std::string::npos) << events;
  EXPECT_EQ(events.find("4000006C"), std::string::npos) << events;
  EXPECT_EQ(events.find("4000006c"), std::string::npos) << events;
}

TEST_F(BackupRun, RefusedServersStopBeforeAnythingIsTouched) {
  // Circular or no logging: refused before the runtime starts.
  server_.archiveLogging = 0;
  EXPECT_EQ(Run(), -1);
  EXPECT_EQ(ReportText(),
            "ERROR: Server: srv1 is not set to archive mode.\r\n"
            "Only archival transaction logging is supported.\r\nBackup aborted.\r\n");
  EXPECT_EQ(request_.output.accumulated, ReportText());  // one message
  EXPECT_TRUE(dom_.calls.empty());
  EXPECT_TRUE(FakeStorage::Get().calls.empty());

  // The runtime does not start: no end for it either.
  server_.archiveLogging = 1;
  server_.notesIniPath.clear();
  dom_.initStatus = 0x0102;
  request_ = BackupRequest();
  EXPECT_EQ(Run(), -1);
  EXPECT_EQ(ReportText(), "Initialize notes system with \r\nERROR: cannot initialize notes for Server srv1/Org\r\n");
  EXPECT_EQ(dom_.calls, std::vector<std::string>{"InitRuntime 0"});
  EXPECT_FALSE(dom_.running);

  // Another backup or restore holds the lock.
  dom_.initStatus = 0;
  dom_.calls.clear();
  platform::OperationLockHandle other;
  ASSERT_TRUE(other.Acquire(kOperationLockName));
  request_ = BackupRequest();
  EXPECT_EQ(Run(), -1);
  EXPECT_EQ(ReportText(), kLockMessage);
  EXPECT_TRUE(dom_.calls.empty());
  other.Close();

  EXPECT_EQ(BackupWiz(), "");
  EXPECT_TRUE(FakeStorage::Get().snapshots.empty());
  EXPECT_TRUE(LockIsFree());
}

TEST_F(BackupRun, BadDataDirectoriesFailTheCycleAndEndTheRuntime) {
  struct Case {
    std::string directory;
    std::string lines;
  };
  const std::vector<Case> cases{
      {"", "ERROR: Invalid data directory for Server srv1/Org\r\nServer directory is not specified\r\n"},
      {"D:\\Domino\\Gone",
       "ERROR: Invalid data directory for Server srv1/Org\r\n"
       "Server directory 'D:\\Domino\\Gone' does not exist.\r\n"},
      {"Q:\\Unmapped",
       "ERROR: Invalid data directory for Server srv1/Org\r\n"
       "Server directory 'Q:\\Unmapped' does not exist.\r\n"},
  };
  for (const Case& c : cases) {
    FakeDomino dom;
    server_.dataDirectory = c.directory;
    request_ = BackupRequest();
    EXPECT_EQ(Run(), -1) << c.directory;
    const std::string text = ReportText();
    EXPECT_NE(text.find("Placing Domino server in backup mode\r\n" + c.lines +
                        "Returned from backup mode\r\nFAILED Backup/Snapshot for srv1/Org \r\n"
                        "ERROR: Snapshot failed on vol_data.\r\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("Backup Completed"), std::string::npos);
    EXPECT_FALSE(dom.running) << c.directory;
    EXPECT_TRUE(FakeStorage::Get().snapshots.empty());
  }
  EXPECT_EQ(BackupWiz(), "");
  EXPECT_TRUE(LockIsFree());
}

TEST_F(BackupRun, NoDatabasesStillTakesTheSnapshotWithAnEmptyDisabledList) {
  ASSERT_EQ(Run(), 0);
  EXPECT_EQ(FakeStorage::Get().snapshots.size(), 1u);
  EXPECT_TRUE(host_.Exists(kRecentDir + "/disabled_databases"));
  EXPECT_EQ(host_.ReadFile(kRecentDir + "/disabled_databases"), "");
  EXPECT_FALSE(host_.Exists(kRecentDir + "/log_hint"));
  EXPECT_NE(ReportText().find("Domino reports no logs to archive\r\n"), std::string::npos);
  EXPECT_EQ(BackupWiz(), "1");
}

TEST_F(BackupRun, AFailedSnapshotGivesEveryDatabaseUpAndReportsTheError) {
  TwoDatabasesAndALog();
  FakeStorage::Get().createResult = E_FAIL;
  EXPECT_EQ(Run(), -1);
  const std::string text = ReportText();
  const std::string head = "Recording Domino changes\r\n"
                           "WARNING: Database " + B + " is disabled for logging (WILL NOT BE RECOVERABLE).\r\n"
                           "ERROR: Could not create snapshot\r\nBackup Aborted.\r\n"
                           "Failed to create snapshot (CreateSnapShot method failed).\r\n";
  EXPECT_NE(text.find(head), std::string::npos) << text;
  EXPECT_NE(text.find("Returned from backup mode\r\nFAILED Backup/Snapshot for srv1/Org \r\n"
                      "ERROR: Snapshot failed on vol_data.\r\n"),
            std::string::npos);
  EXPECT_EQ(dom_.Count("BackupEnd " + A + " 1"), 1);
  EXPECT_EQ(dom_.Count("BackupEnd " + B + " 1"), 1);
  EXPECT_EQ(dom_.Count("BackupEnd " + A + " 0"), 0);
  EXPECT_TRUE(dom_.openHandles.empty());
  EXPECT_FALSE(dom_.running);
  EXPECT_FALSE(host_.Exists(kRecentDir + "/log_hint"));
  EXPECT_TRUE(dom_.marked.empty());  // no log archived for a backup that failed
  EXPECT_EQ(BackupWiz(), "");
  const std::string events = Events();
  EXPECT_TRUE(events.find("4000006C") != std::string::npos || events.find("4000006c") != std::string::npos)
      << events;
  EXPECT_NE(events.find("srv1/Org"), std::string::npos);
}

TEST_F(BackupRun, AFailedCaptureEndsTheStepAndTheRun) {
  TwoDatabasesAndALog();
  dom_.failures["BackupStop " + A] = 0x0105;
  EXPECT_EQ(Run(), -1);
  const std::string text = ReportText();
  EXPECT_NE(text.find("Stopping Domino backup mode...\r\n"
                      "ERROR: Cannot stop backupmode of  database : " + A + ".\r\nDomino error 0x0105\r\n"
                      "ERROR: Could not properly stop backup.\r\nReturned from backup mode\r\n"),
            std::string::npos)
      << text;
  EXPECT_TRUE(dom_.inBackup.empty());
  EXPECT_TRUE(dom_.openHandles.empty());
  EXPECT_EQ(FakeStorage::Get().snapshots.size(), 1u);  // what was made stays
  EXPECT_EQ(BackupWiz(), "");
}

TEST_F(BackupRun, AnExceptionMidRunStillEndsEveryBackupTheRuntimeAndTheLock) {
  TwoDatabasesAndALog();
  dom_.throws.insert("GetChangeInfo " + A);
  testing::internal::CaptureStdout();
  EXPECT_THROW(BackupServer(request_, server_), std::runtime_error);
  testing::internal::GetCapturedStdout();
  EXPECT_TRUE(dom_.inBackup.empty());
  EXPECT_TRUE(dom_.openHandles.empty());
  EXPECT_FALSE(dom_.running);
  EXPECT_TRUE(LockIsFree());
  EXPECT_EQ(BackupWiz(), "");
}

TEST_F(BackupRun, DeleteExcessFlagRunsRetentionAfterTheSnapshot) {
  // Two dated snapshots of this server from earlier backups, oldest last.
  auto dated = [](const std::string& stamp, std::uint64_t secondsAgo) {
    snapshot::SnapshotInfo info;
    info.name = platform::AnsiToWide("dominosnap__ARKHOST__SRV1__" + stamp);
    FILETIME now;
    platform::GetSystemTimeAsFileTime(now);
    info.creationTime = U64ToFileTime(FileTimeToU64(now) - secondsAgo * 10000000ull);
    return info;
  };
  FakeStorage::Get().snapshots = {dated("3-2-2020_9.5.7", 3600), dated("3-1-2020_9.5.7", 7200)};

  // Flag off: no retention at all.
  ASSERT_EQ(Run(), 0);
  EXPECT_EQ(ReportText().find("Removing snapshots"), std::string::npos);
  for (const auto& call : FakeStorage::Get().calls) EXPECT_NE(call.rfind("Delete", 0), 0u) << call;
  ASSERT_EQ(FakeStorage::Get().snapshots.size(), 3u);

  // Flag on, keep 3: the old recent snapshot became dated; four are the
  // server's, the oldest goes.
  request_ = BackupRequest();
  request_.deleteExcessSnapshots = true;
  request_.keepCount = 3;
  ASSERT_EQ(Run(), 0);
  const std::string text = WithoutTimes(ReportText());
  EXPECT_NE(text.find("<T>: Snapshot Complete on VOL vol_data for Virtual Disk D\r\n"
                      "<T>: Removing snapshots in excess of 3\r\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("<T>: Deleted 1 snapshots\r\n<T>: Backup Completed for Server: srv1/Org\r\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(FakeStorage::Get().calls.back(), "Delete dominosnap__ARKHOST__SRV1__3-1-2020_9.5.7");
  EXPECT_FALSE(dom_.running);

  // Retention that cannot enumerate fails the run after a good snapshot.
  WriteNotesSetting("BACKUPWIZ", "", GetArkIniPath());
  FakeStorage::Get().enumerations = 0;
  FakeStorage::Get().failEnumerationNumber = 3;  // cycle, recent time, retention
  request_ = BackupRequest();
  request_.deleteExcessSnapshots = true;
  request_.keepCount = 3;
  EXPECT_EQ(Run(), -1);
  EXPECT_EQ(ReportText().find("Backup Completed"), std::string::npos);
  EXPECT_EQ(ReportText().find("Deleted"), std::string::npos);
  EXPECT_EQ(BackupWiz(), "");
  EXPECT_FALSE(dom_.running);
  EXPECT_TRUE(LockIsFree());
}

}  // namespace
