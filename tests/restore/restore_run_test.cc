// The restore run: refusals that leave the volume untouched, the exact text
// of a successful run, and the clean-up (lock, runtime, copied logs) on
// every way out.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "domino/settings.h"
#include "output/operation_lock.h"
#include "output/output.h"
#include "platform/host.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "restore/restore_hooks.h"
#include "restore/restore_run.h"
#include "tests/restore/fake_domino.h"
#include "tests/restore/fake_volume_snapshot.h"
#include "tests/restore/restore_test_host.h"
#include "tests/restore/stream_recorder.h"

using ::testing::Invoke;
using ::testing::Return;

namespace {

const std::string kLedger = "L:\\ArkLedger\\srv1\\" + std::string(kSnapshotName);
const std::string kCanceled = "Restore canceled; the volume was not changed.\r\n";
const std::string kDominoRunning =
    "ERROR: Domino is running. It needs to be shutdown before the restore process occurs.\r\n"
    "Restore canceled.\r\n";

// Time stamps vary from run to run: they become "<time>".
std::string WithoutTimes(const std::string& text) {
  static const std::regex stamp(R"(\d{1,2}/\d{1,2}/\d{4} \d{2}:\d{2}:\d{2}:\d{2,3})");
  return std::regex_replace(text, stamp, "<time>");
}

class RestoreRunTest : public ::testing::Test {
 protected:
  RestoreRunTest() : request(RestoreTestHost::MakeRequest(0)) {
    UsualHostChecks();
    ON_CALL(domino.api, TermRuntime()).WillByDefault(Invoke([this] { ++terms; }));
    ON_CALL(domino.api, RecoverDatabaseList(_, _, _, _, _))
        .WillByDefault(Invoke([this](const char* packed, ArchivedLogCallbackFn, DWORD, WORD*,
                                     DWORD) -> STATUS {
          recovered = UnpackList(packed);
          logsDuringRecovery = ActiveLogs();
          std::printf("Recovered %zu databases\n", recovered.size());
          std::fflush(stdout);
          return recoveryStatus;
        }));
    domino.currentLog = 42;
    MakeSnapshotAndLedger();
  }
  ~RestoreRunTest() override { ResetRestoreHostChecks(); }

  void MakeSnapshotAndLedger() { host.MakeRestorableSnapshot(kLogSeries); }
  void UsualHostChecks() {
    RestoreHostChecks checks;
    checks.isDominoRunning = [this] { return dominoRunning; };
    checks.freeDiskMegabytes = [](const std::string&, std::uint32_t& megabytes) {
      megabytes = 10000;
      return true;
    };
    SetRestoreHostChecks(checks);
  }

  // The files of the request's log directory with their contents.
  std::vector<std::string> ActiveLogs(bool withContent = false) const {
    std::vector<std::string> names;
    std::string dir;
    if (platform::ToHostPath(request.server.logDirectory, dir) != 0) return {"(unmapped)"};
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
      names.push_back(entry.path().filename().string() +
                      (withContent ? "=" + RestoreTestHost::ReadFile(entry.path().string()) : ""));
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  // Every file of the data volume with its content.
  std::vector<std::string> DataVolume() const {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(host.Host("volumes/D"))) {
      if (entry.is_regular_file()) {
        files.push_back(entry.path().string() + "=" + RestoreTestHost::ReadFile(entry.path().string()));
      }
    }
    std::sort(files.begin(), files.end());
    return files;
  }
  bool KeptLogsLeft() const { return std::filesystem::exists(host.Host("volumes/L/ArkLedger/$kept_logs/srv1")); }
  // The active logs on the data volume, as with TRANSLOG_Path=logdir.
  void LogsBelowTheDataDirectory() {
    request.server.logDirectory = "D:\\Domino\\Data\\logdir";
    request.server.logVolume.driveLetter = u'D';
    host.WriteFile(host.Host("volumes/D/Domino/Data/logdir/S0000042.TXN"), "current log");
    host.WriteFile(host.Host("volumes/D/Domino/Data/logdir/SIMLOG.CTL"), "control");
  }

  std::vector<std::string> EventLines() const {
    std::vector<std::string> lines;
    std::istringstream in(RestoreTestHost::ReadFile(host.Host("Logs/Application.log")));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  // Runs the restore; messages are what the client received, events the
  // event-log entries the run wrote (without their time stamps).
  std::vector<std::string> Run() {
    const std::size_t eventsBefore = EventLines().size();
    StreamRecorder recorder;
    result = PerformRestore(request);
    const std::vector<std::string> lines = EventLines();
    events.clear();
    for (std::size_t i = eventsBefore; i < lines.size(); ++i) {
      const std::size_t kind = lines[i].find_first_of("EI");
      events.push_back(kind == std::string::npos ? lines[i] : lines[i].substr(kind));
    }
    std::vector<std::string> messages = recorder.Stop();
    for (std::string& message : messages) message = WithoutTimes(message);
    return messages;
  }

  bool LockIsFree() {
    OutputSink sink;
    return AcquireOperationLock(sink).valid();
  }

  std::string Volume(const std::string& name) const {
    return RestoreTestHost::ReadFile(host.Host("volumes/D/Domino/Data/" + name));
  }

  RestoreTestHost host;
  FakeDomino domino;
  FakeVolumeSnapshotComponent component;
  RestoreRequest request;
  bool dominoRunning = false;
  int terms = 0;
  STATUS recoveryStatus = 0;
  std::vector<std::string> recovered;
  std::vector<std::string> logsDuringRecovery;
  std::int32_t result = 99;
  std::vector<std::string> events;
};

std::string FailureEvent(const std::string& type, const std::string& text) {
  return "Error category 2 event 0x4000006D arksvc: The " + type + " restore of snapshot " +
         kSnapshotName + " for the Domino server srv1/Org failed: " + text;
}

TEST_F(RestoreRunTest, UpToTheMinuteRunStreamsExactlyThisText) {
  ON_CALL(domino.api, ApplyChangeInfoEnd(_, _)).WillByDefault(Return(0));
  // Other partitions: one more on the reverted drive D:, one elsewhere.
  for (const auto& [value, directory] : {std::pair{"PARTITION1", "D:\\Domino\\Data\\"},
                                         std::pair{"PARTITION2", "D:\\Domino\\Data2"},
                                         std::pair{"PARTITION3", "E:\\Domino\\Data3"}}) {
    platform::RegSetString("SOFTWARE\\Lotus\\Domino\\5.0", value, directory);
  }
  const std::vector<std::string> messages = Run();
  EXPECT_EQ(result, 0);
  const std::vector<std::string> expected = {
      "Start time is: <time>\r\nRestoring snapshot: " + std::string(kSnapshotName) + "\r\n",
      "Checked the 1 change information file the backup listed: 0 missing or damaged.\r\n",
      "WARNING: The revert of drive D: also takes the data directories of other Domino servers back "
      "to the snapshot:\r\n  D:\\Domino\\Data2\r\nTheir databases are not recovered by this restore.\r\n",
      "Determining necessary logs for UP TO THE MINUTE RESTORE\r\n",
      "Snapshot Log Series : 0x0000000f\r\n",
      "Current Log Series : 0x0000000f\r\n",
      "First log needed for restore: S0000040.TXN\r\n",
      "Last log needed for restore: S0000042.TXN\r\n",
      "Verified all logs are available\r\nCopying logs to active log directory\r\n",
      "Active log drive has 10000 MB free.\r\n128 MB to copy to active log drive.\r\n",
      "Copying log file : S0000040.TXN\r\n",
      "Copying log file : S0000041.TXN\r\n",
      "\r\nStarting restore of snapshot\r\n",
      "Restoring snapshot. Please wait...\r\n",
      "Snapshot restored.\r\n",
      "Applying change information (from Domino backup) to restored databases.\r\n"
      "Change information directory is:\r\n" + kLedger + "\r\n",
      "Applied 3 bytes to D:\\Domino\\Data\\a.nsf\r\n",
      "Change information applied.\r\n",
      "\r\nPerforming UP TO THE MINUTE Domino recovery.\r\n"
      "All transactions will be applied (please wait...)\r\n",
      "\r\nBeginning Domino UP TO THE MINUTE recovery.\r\n",
      "Recovered 1 databases\n",
      "Recovery COMPLETE \r\n",
      "End time is: <time>\r\n\r\n\r\nSNAPSHOT RESTORE AND RECOVERY COMPLETE.\r\n"
      "RESTART DOMINO IMMEDIATELY\r\n",
  };
  EXPECT_EQ(messages, expected);
  EXPECT_EQ(component.state->calls,
            (std::vector<std::string>{"Restore D " + std::string(kSnapshotName)}));
  EXPECT_EQ(Volume("a.nsf"), "database a at the snapshot");
  EXPECT_EQ(recovered, (std::vector<std::string>{"D:\\Domino\\Data\\a.nsf"}));
  // The copied logs were there while recovery ran and are gone afterwards.
  EXPECT_EQ(logsDuringRecovery, (std::vector<std::string>{"S0000040.TXN", "S0000041.TXN"}));
  EXPECT_TRUE(ActiveLogs().empty());
  EXPECT_EQ(terms, 2);  // once inside the start-up sequence, once at the end
  EXPECT_TRUE(LockIsFree());
  EXPECT_EQ(WithoutTimes(ReportText()).find("Start time is: <time>"), 0u);
  EXPECT_EQ(events, (std::vector<std::string>{
                        "Information category 2 event 0x4000006F arksvc: The UP TO THE MINUTE "
                        "restore of snapshot " + std::string(kSnapshotName) +
                        " for the Domino server srv1/Org succeeded."}));
}

TEST_F(RestoreRunTest, PointInTimeRunNeverTouchesTheLogs) {
  request.pointInTime = 1;
  // Discovery reports names upper-cased; the ArkLedger keeps its own case.
  request.snapshot.name = platform::ToUpperAnsi(kSnapshotName);
  std::vector<std::string> opened;
  ON_CALL(domino.api, OpenDatabase(_, _))
      .WillByDefault(Invoke([&](const char* path, DBHANDLE* handle) -> STATUS {
        opened.push_back(path);
        *handle = DBHANDLE(opened.size());
        return 0;
      }));
  EXPECT_CALL(domino.api, RecoverDatabaseList(_, _, _, _, _)).Times(0);
  EXPECT_CALL(domino.api, GetFirstArchiveLog(_, _, _)).Times(0);
  host.WriteFile(host.Host("volumes/E/Logs/S0000099.TXN"), "active log");
  // Taken before backups listed their change information: restored as before.
  std::filesystem::remove(host.Ledger("change_info_list"));

  const std::vector<std::string> messages = Run();
  EXPECT_EQ(result, 0);
  ASSERT_EQ(messages.size(), 10u);
  EXPECT_EQ(messages[1], "\r\nStarting restore of snapshot\r\n");
  EXPECT_EQ(messages[5], "Applied 3 bytes to D:\\Domino\\Data\\a.nsf\r\n");
  EXPECT_EQ(messages[7],
            "\r\nPerforming POINT IN TIME Domino recovery.\r\n"
            "Transactions will be applied up to 3/2/2003 9:05:00\r\n");
  EXPECT_EQ(messages[8], "Recovery COMPLETE \r\n");
  std::sort(opened.begin(), opened.end());
  EXPECT_EQ(opened, (std::vector<std::string>{"D:\\Domino\\Data\\a.nsf",
                                              "D:\\Domino\\Data\\off.nsf",
                                              "D:\\Domino\\Data\\t.ntf"}));
  EXPECT_EQ(ActiveLogs(), (std::vector<std::string>{"S0000099.TXN"}));
}

TEST_F(RestoreRunTest, RefusalsLeaveTheVolumeAndTheLogsUntouched) {
  struct Case {
    const char* what;
    std::function<void()> setUp;
    std::string output;  // the whole output, or its last message
    bool whole;
  };
  const std::vector<Case> cases = {
      {"Domino running", [&] { dominoRunning = true; }, kDominoRunning, true},
      {"archive logging off, point in time",
       [&] {
         request.server.archiveLogging = 0;
         request.pointInTime = 1;
       },
       "ERROR: Transaction logging is disabled or not set to archive mode.\r\n"
       "Please re-enabled archival transaction logging and perform a full backup.\r\n",
       true},
      {"archive logging off, up to the minute", [&] { request.server.archiveLogging = 0; },
       "ERROR: Transaction logging is disabled or not set to archive mode.\r\n"
       "Please re-enabled archival transaction logging and perform a full backup.\r\n",
       true},
      {"series mismatch", [&] { host.WriteLogHint(40, "00000001"); },
       "ERROR: The Log Series of the current transaction log (0x0000000f)\r\n"
       "Does not match the Snapshot Log Series (0x00000001)\r\n"
       "UP TO THE MINUTE restore is not possible\r\n",
       false},
      {"missing log", [&] { std::filesystem::remove(host.Ledger("logs/S0000041.TXN")); },
       "ERROR: Could not find archive log file: S0000041.TXN\r\n"
       "Log is not located in Server's arkledger directory:\r\nL:\\ArkLedger\\srv1\\",
       false},
      {"too little space (pointInTime 2 is up to the minute)",
       [&] {
         request.pointInTime = 2;
         RestoreHostChecks checks;
         checks.isDominoRunning = [] { return false; };
         checks.freeDiskMegabytes = [](const std::string&, std::uint32_t& megabytes) {
           megabytes = 100;
           return true;
         };
         SetRestoreHostChecks(checks);
       },
       "ERROR: Active log directory needs an additional 28MB.\r\n"
       "Not enough free space on the active log drive.\r\n",
       false},
      {"ArkLedger on the data volume",
       [&] { WriteNotesSetting("CHANGE_INFO_DIR", "d:\\ArkLedger", GetArkIniPath()); },
       "ERROR: The ArkLedger directory d:\\ArkLedger (CHANGE_INFO_DIR) lies on drive D:, the data "
       "volume of server srv1/Org.\r\nA restore reverts that volume and would take the ArkLedger back "
       "to a time before the change information was written.\r\nMove the ArkLedger directory to a "
       "drive other than D: and set CHANGE_INFO_DIR in C:\\Windows\\ark.ini to its new place.\r\n" +
           kCanceled,
       false},
      {"no ArkLedger directory of the snapshot, point in time",
       [&] {
         request.pointInTime = 1;
         std::filesystem::remove_all(host.Ledger());
       },
       "ERROR: The snapshot's ArkLedger directory does not exist:\r\n" + kLedger +
           "\r\nWithout it the change information recorded during the backup cannot be applied.\r\n" +
           kCanceled,
       false},
      {"a backup that never finished", [&] { std::filesystem::remove(host.Ledger("disabled_databases")); },
       "ERROR: The snapshot's ArkLedger directory holds no disabled_databases file:\r\n" + kLedger +
           "\\disabled_databases\r\nThe backup of this snapshot did not finish; its change "
           "information may be incomplete.\r\n" +
           kCanceled,
       false},
      {"a listed change-information file missing",
       [&] {
         host.WriteFile(host.Ledger("change_info_list"),
                        "11 Domino\\Data\\a.nsf.dat\r\n20 Domino\\Data\\gone.nsf.dat\r\n");
       },
       "ERROR: The snapshot's change information is not as the backup wrote it (" + kLedger +
           "\\Domino\\Data\\gone.nsf.dat).\r\n" + kCanceled,
       false},
      {"a listed change-information file short",
       [&] { host.WriteFile(host.Ledger("change_info_list"), "12 Domino\\Data\\a.nsf.dat\r\n"); },
       "ERROR: The snapshot's change information is not as the backup wrote it (" + kLedger +
           "\\Domino\\Data\\a.nsf.dat).\r\n" + kCanceled,
       false},
      {"no room to keep the logs on the reverted volume",
       [&] {
         LogsBelowTheDataDirectory();
         RestoreHostChecks checks;
         checks.isDominoRunning = [] { return false; };
         checks.freeDiskMegabytes = [](const std::string& drive, std::uint32_t& megabytes) {
           megabytes = drive == "L" ? 1 : 10000;
           return true;
         };
         SetRestoreHostChecks(checks);
       },
       "ERROR: The active log directory D:\\Domino\\Data\\logdir lies on drive D:, which the restore "
       "reverts, and its files cannot be kept across the revert:\r\nThe ArkLedger drive L: has 1 MB "
       "free; their copies need 1 MB.\r\n" +
           kCanceled,
       false},
      {"the copies of the logs cannot be made",
       [&] {
         LogsBelowTheDataDirectory();
         host.WriteFile(host.Host("volumes/L/ArkLedger/$kept_logs"), "a file in the way");
       },
       "ERROR: The active log directory D:\\Domino\\Data\\logdir lies on drive D:, which the restore "
       "reverts, and its files cannot be kept across the revert:\r\nThe folder "
       "L:\\ArkLedger\\$kept_logs\\srv1\\ could not be created.\r\n" +
           kCanceled,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    request = RestoreTestHost::MakeRequest(0);
    dominoRunning = false;
    UsualHostChecks();
    WriteNotesSetting("CHANGE_INFO_DIR", "L:\\ArkLedger", GetArkIniPath());
    std::filesystem::remove_all(host.Host("volumes/L/ArkLedger/$kept_logs"));
    MakeSnapshotAndLedger();
    c.setUp();
    const std::vector<std::string> volume = DataVolume();
    const std::vector<std::string> logs = ActiveLogs(true);
    const std::vector<std::string> messages = Run();
    EXPECT_EQ(result, -1);
    ASSERT_FALSE(messages.empty());
    if (std::string(c.what) == "Domino running") {
      EXPECT_EQ(events[0], FailureEvent("UP TO THE MINUTE",
                                        "ERROR: Domino is running. It needs to be shutdown before "
                                        "the restore process occurs. | Restore canceled."));
    }
    if (c.whole) {
      EXPECT_EQ(messages, (std::vector<std::string>{c.output}));
    } else {
      // Printed where it happened and again as the run's failure text.
      ASSERT_GE(messages.size(), 2u);
      EXPECT_EQ(messages[messages.size() - 1], c.output);
      EXPECT_EQ(messages[messages.size() - 2], c.output);
    }
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].rfind("Error category 2 event 0x4000006D arksvc: The ", 0), 0u);
    EXPECT_TRUE(component.state->calls.empty());
    EXPECT_EQ(DataVolume(), volume);
    EXPECT_EQ(ActiveLogs(true), logs);
    EXPECT_FALSE(KeptLogsLeft());
    EXPECT_TRUE(LockIsFree());
  }
}

// With the active logs on the reverted volume (kept across the revert: the
// whole-host tests show recovery replays them), logs that cannot be put back
// stop the run before recovery, and the folder with their copies is named.
TEST_F(RestoreRunTest, LogsThatCannotBePutBackStopTheRunBeforeRecovery) {
  LogsBelowTheDataDirectory();
  // The snapshot holds a file where the log directory should be.
  host.WriteFile(host.Host("snapshots/" + std::string(kSnapshotName) + "/Domino/Data/logdir"), "not a directory");
  logsDuringRecovery = {"not run"};
  const std::vector<std::string> messages = Run();
  EXPECT_EQ(result, -1);
  EXPECT_EQ(logsDuringRecovery, std::vector<std::string>{"not run"});
  const std::string keptFolder = "L:\\ArkLedger\\$kept_logs\\srv1\\";
  const std::string keeping = "Keeping 4 active log files of D:\\Domino\\Data\\logdir across the revert\r\n"
                              "Their copies are in " + keptFolder;
  EXPECT_EQ(std::count_if(messages.begin(), messages.end(),
                          [&](const std::string& m) { return m.rfind(keeping, 0) == 0; }),
            1);
  ASSERT_FALSE(messages.empty());
  const std::string& failure = messages.back();
  EXPECT_EQ(failure.rfind("ERROR: Could not put the active log files back into D:\\Domino\\Data\\logdir:\r\n", 0),
            0u)
      << failure;
  const std::string keptIn = "The log files as they were before the revert are kept in:\r\n" + keptFolder;
  const std::size_t at = failure.find(keptIn);
  ASSERT_NE(at, std::string::npos) << failure;
  EXPECT_NE(failure.find("Recovery was not run.\r\n"), std::string::npos) << failure;
  // The copies: the live logs and the saved ones copied in for recovery.
  const std::size_t folderAt = at + keptIn.size() - keptFolder.size();
  std::string hostFolder;
  ASSERT_EQ(platform::ToHostPath(failure.substr(folderAt, failure.find("\r\n", folderAt) - folderAt), hostFolder),
            0u);
  std::vector<std::string> copies;
  for (const auto& entry : std::filesystem::directory_iterator(hostFolder)) {
    copies.push_back(entry.path().filename().string() + "=" + RestoreTestHost::ReadFile(entry.path().string()));
  }
  std::sort(copies.begin(), copies.end());
  EXPECT_EQ(copies, (std::vector<std::string>{"S0000040.TXN=forty", "S0000041.TXN=forty-one",
                                              "S0000042.TXN=current log", "SIMLOG.CTL=control"}));
}

TEST_F(RestoreRunTest, AHeldLockOrAFailedStartUpStopsBeforeAnythingElse) {
  EXPECT_CALL(domino.api, RecoverDatabaseList(_, _, _, _, _)).Times(0);
  {
    OutputSink holder;
    platform::OperationLockHandle held = AcquireOperationLock(holder);
    ASSERT_TRUE(held.valid());
    EXPECT_CALL(domino.api, InitRuntime(_, _)).Times(0);
    EXPECT_EQ(Run(), (std::vector<std::string>{
                         "ERROR: ARK backup or restore in progress (probably a scheduled event).\r\n",
                         "ERROR: Restore aborted. A current BACKUP/RESTORE is in progress\r\n"}));
    EXPECT_EQ(result, -1);
    EXPECT_EQ(events, (std::vector<std::string>{FailureEvent(
                          "UP TO THE MINUTE", "A current BACKUP/RESTORE is in progress.")}));
    ::testing::Mock::VerifyAndClearExpectations(&domino.api);
  }
  EXPECT_TRUE(LockIsFree());

  ON_CALL(domino.api, InitRuntime(_, _)).WillByDefault(Return(0x0FFF));
  EXPECT_EQ(Run(), (std::vector<std::string>{
                       "ERROR: Could not initialize notes runtime. Restore snapshot failed.\r\n"}));
  EXPECT_EQ(result, 0x0FFF);
  EXPECT_EQ(events, (std::vector<std::string>{FailureEvent(
                        "UP TO THE MINUTE",
                        "Could not initialize notes runtime. Restore snapshot failed.")}));
  EXPECT_EQ(terms, 0);
  EXPECT_TRUE(component.state->calls.empty());
  EXPECT_TRUE(LockIsFree());
}

TEST_F(RestoreRunTest, AFailedUpToTheMinuteRecoveryStillRemovesTheCopiedLogs) {
  recoveryStatus = ERR_LOGS_MISSING;
  const std::vector<std::string> messages = Run();
  EXPECT_EQ(result, -1);
  EXPECT_EQ(logsDuringRecovery, (std::vector<std::string>{"S0000040.TXN", "S0000041.TXN"}));
  EXPECT_TRUE(ActiveLogs().empty());
  const std::string failure =
      "ERROR: UP TO THE MINUTE Recovery failed. Restored snapshot is POINT IN TIME\r\n";
  ASSERT_GE(messages.size(), 4u);
  EXPECT_EQ(messages[messages.size() - 4], "\r\nRECOVERY FAILED: All log files could not be found.\r\n");
  EXPECT_EQ(messages[messages.size() - 3], "ERROR: Domino status 0x13E3\r\n");
  EXPECT_EQ(messages[messages.size() - 2], failure);
  EXPECT_EQ(messages[messages.size() - 1], failure);
  EXPECT_EQ(terms, 2);
  EXPECT_TRUE(LockIsFree());
}

TEST_F(RestoreRunTest, AnExceptionInsideTheRunGivesEverythingBack) {
  ON_CALL(domino.api, RecoverDatabaseList(_, _, _, _, _))
      .WillByDefault(Invoke([this](const char*, ArchivedLogCallbackFn, DWORD, WORD*, DWORD) -> STATUS {
        logsDuringRecovery = ActiveLogs();
        throw std::runtime_error("runtime crashed");
      }));
  StreamRecorder recorder;
  EXPECT_THROW(PerformRestore(request), std::runtime_error);
  recorder.Stop();
  EXPECT_EQ(logsDuringRecovery, (std::vector<std::string>{"S0000040.TXN", "S0000041.TXN"}));
  EXPECT_TRUE(ActiveLogs().empty());
  EXPECT_EQ(terms, 2);
  EXPECT_TRUE(LockIsFree());
}

TEST_F(RestoreRunTest, FailuresAfterTheSnapshotRestoreSayTheVolumeWasRestored) {
  // A change-information file the runtime refuses.
  ON_CALL(domino.api, ApplyChangeInfoStart(_, _, _, _, _)).WillByDefault(Return(0x0444));
  std::vector<std::string> messages = Run();
  EXPECT_EQ(result, -1);
  const std::string applyFailed =
      "ERROR: Apply change information failed (although snapshot was restored).\r\n";
  ASSERT_GE(messages.size(), 2u);
  EXPECT_EQ(messages[messages.size() - 1], applyFailed);
  EXPECT_EQ(messages[messages.size() - 2], applyFailed);
  EXPECT_EQ(Volume("a.nsf"), "database a at the snapshot");
  EXPECT_TRUE(ActiveLogs().empty());

  // The snapshot component refuses the snapshot: its text, once.
  component.state->restoreResult = E_FAIL;
  MakeSnapshotAndLedger();
  messages = Run();
  EXPECT_EQ(result, -1);
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back().rfind("ERROR: Restore SnapShot failed.\r\n", 0), 0u);
  EXPECT_EQ(messages[messages.size() - 2], "Restoring snapshot. Please wait...\r\n");
  EXPECT_TRUE(ActiveLogs().empty());
}

}  // namespace
