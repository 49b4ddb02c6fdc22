// The restore run: refusals that leave the volume untouched, the text of a
// successful run, and the clean-up (lock, runtime, copied logs) on every
// way out.
#include <regex>
#include <sstream>

#include "domino/settings.h"
#include "output/operation_lock.h"
#include "output/output.h"
#include "platform/host.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "tests/support/fake_host_seam.h"
#include "restore/restore_run.h"
#include "tests/restore/restore_host.h"
#include "tests/restore/stream_recorder.h"
#include "tests/support/fake_component.h"
#include "tests/support/mock_domino_api.h"
#include "tests/support/text_checks.h"

using ::testing::_;
using ::testing::Return;
using Names = std::vector<std::string>;

namespace {

const std::string kLedger = "L:\\ArkLedger\\srv1\\" + std::string(kSnapshotName);
const std::string kCanceled = "Restore canceled; the volume was not changed.\r\n";
const std::string kKeptFolder = "L:\\ArkLedger\\$kept_logs\\srv1\\";

// The files of a folder (and its subfolders), with their contents when asked.
Names Files(const std::filesystem::path& dir, bool withContent) {
  Names files;
  std::error_code none;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir, none)) {
    if (e.is_regular_file()) files.push_back(e.path().filename().string() + (withContent ? "=" + ReadHostFile(e.path()) : ""));
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string FailureEvent(const std::string& type, const std::string& text) {
  return "Error category 2 event 0x4000006D arksvc: The " + type + " restore of snapshot " + kSnapshotName +
         " for the Domino server srv1/Org failed: " + text;
}

class RestoreRunTest : public ::testing::Test {
 protected:
  FakeHostSeam seam_;  // the process check and free space of this test's host
  RestoreRunTest() : request(MakeRequest(0)) {
    HostChecks(10000);
    ON_CALL(domino, TermRuntime()).WillByDefault([this] { ++terms; });
    ON_CALL(domino, RecoverDatabaseList(_, _, _, _, _))
        .WillByDefault([this](const char* packed, ArchivedLogCallbackFn, DWORD, WORD*, DWORD) -> STATUS {
          recovered = UnpackList(packed);
          logsDuringRecovery = ActiveLogs();
          std::printf("Recovered %zu databases\n", recovered.size());
          std::fflush(stdout);
          return recoveryStatus;
        });
    domino.currentLog = 42;
    component.state().restoreFrom = host.path() / "snapshots";
    host.MakeRestorableSnapshot(kLogSeries);
  }

  // Domino as dominoRunning says; megabytes free on every drive but L:.
  void HostChecks(std::uint32_t free, std::uint32_t freeOnL = 10000) {
    seam_.isDominoRunning = [this] { return dominoRunning; };
    seam_.freeDiskMegabytes = [=](const std::string& drive, std::uint32_t& megabytes) {
      megabytes = drive == "L" ? freeOnL : free;
      return true;
    };
  }
  Names ActiveLogs(bool withContent = false) const {
    std::string dir;
    if (platform::ToHostPath(request.server.logDirectory, dir) != 0) return {"(unmapped)"};
    return Files(dir, withContent);
  }
  void LogsBelowTheDataDirectory() {
    request.server.logDirectory = "D:\\Domino\\Data\\logdir";
    request.server.logVolume.driveLetter = u'D';
    WriteHostFile(host.Drive('D', "Domino/Data/logdir/S0000042.TXN"), "current log");
    WriteHostFile(host.Drive('D', "Domino/Data/logdir/SIMLOG.CTL"), "control");
  }
  Names EventLines() const {
    Names lines;
    std::istringstream in(ReadHostFile(host.path() / "Logs/Application.log"));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  // Runs the restore; messages are what the client received (time stamps
  // as "<time>"), events the event-log entries of the run without theirs.
  Names Run() {
    const std::size_t eventsBefore = EventLines().size();
    StreamRecorder recorder;
    result = PerformRestore(request);
    const Names lines = EventLines();
    events.clear();
    for (std::size_t i = eventsBefore; i < lines.size(); ++i) events.push_back(lines[i].substr(lines[i].find_first_of("EI")));
    Names messages = recorder.Stop();
    static const std::regex stamp(R"(\d{1,2}/\d{1,2}/\d{4} \d{2}:\d{2}:\d{2}:\d{2,3})");
    for (std::string& message : messages) message = std::regex_replace(message, stamp, "<time>");
    return messages;
  }
  static std::string Joined(const Names& messages) {
    std::string all;
    for (const std::string& m : messages) all += m;
    return all;
  }
  bool LockIsFree() {
    OutputSink sink;
    return AcquireOperationLock(sink).valid();
  }
  std::string Volume(const std::string& name) const { return ReadHostFile(host.Drive('D', "Domino/Data/" + name)); }

  RestoreHost host;
  ::testing::NiceMock<IdleDominoApi> domino;
  FakeComponent component;
  RestoreRequest request;
  bool dominoRunning = false;
  int terms = 0;
  STATUS recoveryStatus = 0;
  Names recovered, logsDuringRecovery, events;
  std::int32_t result = 99;
};

TEST_F(RestoreRunTest, UpToTheMinuteRunRestoresAppliesRecoversAndCleansUp) {
  // Other partitions: one more on the reverted drive D:, one elsewhere.
  for (const auto& [value, directory] : {std::pair{"PARTITION1", "D:\\Domino\\Data\\"},
                                         {"PARTITION2", "D:\\Domino\\Data2"}, {"PARTITION3", "E:\\Domino\\Data3"}}) {
    platform::RegSetString("SOFTWARE\\Lotus\\Domino\\5.0", value, directory);
  }
  const Names messages = Run();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(messages.front(), "Start time is: <time>\r\nRestoring snapshot: " + std::string(kSnapshotName) + "\r\n");
  EXPECT_TRUE(InOrder(Joined(messages),
                      {"Checked the 1 change information file the backup listed: 0 missing or damaged.\r\n",
                       "WARNING: The revert of drive D: also takes the data directories of other Domino servers back "
                       "to the snapshot:\r\n  D:\\Domino\\Data2\r\nTheir databases are not recovered by this restore.\r\n",
                       "Determining necessary logs for UP TO THE MINUTE RESTORE\r\n",
                       "Copying log file : S0000040.TXN\r\n", "Copying log file : S0000041.TXN\r\n",
                       "\r\nStarting restore of snapshot\r\n", "Snapshot restored.\r\n",
                       "Change information directory is:\r\n" + kLedger + "\r\n",
                       "Applied 3 bytes to D:\\Domino\\Data\\a.nsf\r\nChange information applied.\r\n",
                       "\r\nPerforming UP TO THE MINUTE Domino recovery.\r\n", "Recovered 1 databases\n",
                       "Recovery COMPLETE \r\n"}));
  EXPECT_EQ(messages.back(), "End time is: <time>\r\n\r\n\r\nSNAPSHOT RESTORE AND RECOVERY COMPLETE.\r\n"
                             "RESTART DOMINO IMMEDIATELY\r\n");
  EXPECT_EQ(component.state().calls, Names{"Restore D " + std::string(kSnapshotName)});
  EXPECT_EQ(Volume("a.nsf"), "database a at the snapshot");
  EXPECT_EQ(recovered, Names{"D:\\Domino\\Data\\a.nsf"});
  // The copied logs were there while recovery ran and are gone afterwards.
  EXPECT_EQ(logsDuringRecovery, (Names{"S0000040.TXN", "S0000041.TXN"}));
  EXPECT_TRUE(ActiveLogs().empty());
  EXPECT_EQ(terms, 2);  // once inside the start-up sequence, once at the end
  EXPECT_TRUE(LockIsFree());
  EXPECT_EQ(ReportText().find("Start time is: "), 0u);
  EXPECT_EQ(events, Names{"Information category 2 event 0x4000006F arksvc: The UP TO THE MINUTE restore of snapshot " +
                          std::string(kSnapshotName) + " for the Domino server srv1/Org succeeded."});
}

TEST_F(RestoreRunTest, PointInTimeRunNeverTouchesTheLogs) {
  request.pointInTime = 1;
  // Discovery reports names upper-cased; the ArkLedger keeps its own case.
  request.snapshot.name = platform::ToUpperAnsi(kSnapshotName);
  Names opened;
  ON_CALL(domino, OpenDatabase(_, _)).WillByDefault([&](const char* path, DBHANDLE* handle) -> STATUS {
    opened.push_back(path);
    *handle = DBHANDLE(opened.size());
    return 0;
  });
  EXPECT_CALL(domino, RecoverDatabaseList(_, _, _, _, _)).Times(0);
  EXPECT_CALL(domino, GetFirstArchiveLog(_, _, _)).Times(0);
  WriteHostFile(host.Drive('E', "Logs/S0000099.TXN"), "active log");
  // Taken before backups listed their change information: restored as before.
  std::filesystem::remove(host.Ledger("change_info_list"));

  const Names messages = Run();
  EXPECT_EQ(result, 0);
  ASSERT_EQ(messages.size(), 10u);
  EXPECT_TRUE(InOrder(Joined(messages), {"\r\nStarting restore of snapshot\r\n", "Applied 3 bytes to D:\\Domino\\Data\\a.nsf\r\n",
                                         "\r\nPerforming POINT IN TIME Domino recovery.\r\nTransactions will be applied "
                                         "up to 3/2/2003 9:05:00\r\n", "Recovery COMPLETE \r\n"}));
  std::sort(opened.begin(), opened.end());
  EXPECT_EQ(opened, (Names{"D:\\Domino\\Data\\a.nsf", "D:\\Domino\\Data\\off.nsf", "D:\\Domino\\Data\\t.ntf"}));
  EXPECT_EQ(ActiveLogs(), Names{"S0000099.TXN"});
}

TEST_F(RestoreRunTest, RefusalsLeaveTheVolumeAndTheLogsUntouched) {
  const std::string archiveOff = "ERROR: Transaction logging is disabled or not set to archive mode.\r\n"
                                 "Please re-enabled archival transaction logging and perform a full backup.\r\n";
  const std::string logsOnD = "ERROR: The active log directory D:\\Domino\\Data\\logdir lies on drive D:, which the "
                              "restore reverts, and its files cannot be kept across the revert:\r\n";
  struct Case {
    std::function<void()> arrange;
    std::string output;  // the whole output, or its last message (printed twice: where and as the failure)
    bool whole;
  };
  const std::vector<Case> cases = {
      {[&] { dominoRunning = true; },
       "ERROR: Domino is running. It needs to be shutdown before the restore process occurs.\r\nRestore canceled.\r\n",
       true},
      {[&] { request.server.archiveLogging = 0, request.pointInTime = 1; }, archiveOff, true},
      {[&] { request.server.archiveLogging = 0; }, archiveOff, true},
      {[&] { host.WriteLogHint(40, "00000001"); },
       "ERROR: The Log Series of the current transaction log (0x0000000f)\r\nDoes not match the Snapshot Log Series "
       "(0x00000001)\r\nUP TO THE MINUTE restore is not possible\r\n", false},
      {[&] { std::filesystem::remove(host.Ledger("logs/S0000041.TXN")); },
       "ERROR: Could not find archive log file: S0000041.TXN\r\nLog is not located in Server's arkledger "
       "directory:\r\nL:\\ArkLedger\\srv1\\", false},
      {[&] { request.pointInTime = 2, HostChecks(100); },  // 2 is up to the minute
       "ERROR: Active log directory needs an additional 28MB.\r\nNot enough free space on the active log drive.\r\n",
       false},
      {[&] { WriteNotesSetting("CHANGE_INFO_DIR", "d:\\ArkLedger", GetArkIniPath()); },
       "ERROR: The ArkLedger directory d:\\ArkLedger (CHANGE_INFO_DIR) lies on drive D:, the data volume of server "
       "srv1/Org.\r\nA restore reverts that volume and would take the ArkLedger back to a time before the change "
       "information was written.\r\nMove the ArkLedger directory to a drive other than D: and set CHANGE_INFO_DIR in "
       "C:\\Windows\\ark.ini to its new place.\r\n" + kCanceled, false},
      {[&] { request.pointInTime = 1, std::filesystem::remove_all(host.Ledger()); },
       "ERROR: The snapshot's ArkLedger directory does not exist:\r\n" + kLedger +
           "\r\nWithout it the change information recorded during the backup cannot be applied.\r\n" + kCanceled,
       false},
      {[&] { std::filesystem::remove(host.Ledger("disabled_databases")); },  // a backup that never finished
       "ERROR: The snapshot's ArkLedger directory holds no disabled_databases file:\r\n" + kLedger +
           "\\disabled_databases\r\nThe backup of this snapshot did not finish; its change information may be "
           "incomplete.\r\n" + kCanceled, false},
      {[&] { WriteHostFile(host.Ledger("change_info_list"), "11 Domino\\Data\\a.nsf.dat\r\n20 Domino\\Data\\gone.nsf.dat\r\n"); },
       "ERROR: The snapshot's change information is not as the backup wrote it (" + kLedger +
           "\\Domino\\Data\\gone.nsf.dat).\r\n" + kCanceled, false},
      {[&] { WriteHostFile(host.Ledger("change_info_list"), "12 Domino\\Data\\a.nsf.dat\r\n"); },
       "ERROR: The snapshot's change information is not as the backup wrote it (" + kLedger +
           "\\Domino\\Data\\a.nsf.dat).\r\n" + kCanceled, false},
      {[&] { LogsBelowTheDataDirectory(), HostChecks(10000, 1); },
       logsOnD + "The ArkLedger drive L: has 1 MB free; their copies need 1 MB.\r\n" + kCanceled, false},
      {[&] { LogsBelowTheDataDirectory(), WriteHostFile(host.Drive('L', "ArkLedger/$kept_logs"), "a file in the way"); },
       logsOnD + "The folder " + kKeptFolder + " could not be created.\r\n" + kCanceled, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    request = MakeRequest(0);
    dominoRunning = false;
    HostChecks(10000);
    WriteNotesSetting("CHANGE_INFO_DIR", "L:\\ArkLedger", GetArkIniPath());
    std::filesystem::remove_all(host.Drive('L', "ArkLedger/$kept_logs"));
    host.MakeRestorableSnapshot(kLogSeries);
    c.arrange();
    const Names volume = Files(host.Drive('D'), true), logs = ActiveLogs(true);
    const Names messages = Run();
    EXPECT_EQ(result, -1);
    ASSERT_GE(messages.size(), c.whole ? 1u : 2u);
    const Names expected = c.whole ? Names{c.output} : Names{c.output, c.output};
    EXPECT_EQ(Names(messages.end() - std::ptrdiff_t(expected.size()), messages.end()), expected);
    EXPECT_TRUE(!c.whole || messages.size() == 1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].rfind("Error category 2 event 0x4000006D arksvc: The ", 0), 0u);
    EXPECT_TRUE(component.state().calls.empty());
    EXPECT_EQ(Files(host.Drive('D'), true), volume);
    EXPECT_EQ(ActiveLogs(true), logs);
    EXPECT_FALSE(std::filesystem::exists(host.Drive('L', "ArkLedger/$kept_logs/srv1")));
    EXPECT_TRUE(LockIsFree());
  }
}

// With the active logs on the reverted volume (kept across the revert),
// logs that cannot be put back stop the run before recovery, and the folder
// with their copies is named.
TEST_F(RestoreRunTest, LogsThatCannotBePutBackStopTheRunBeforeRecovery) {
  LogsBelowTheDataDirectory();
  // The snapshot holds a file where the log directory should be.
  WriteHostFile(host.path() / "snapshots" / kSnapshotName / "Domino/Data/logdir", "not a directory");
  logsDuringRecovery = {"not run"};
  const Names messages = Run();
  EXPECT_EQ(result, -1);
  EXPECT_EQ(logsDuringRecovery, Names{"not run"});
  EXPECT_TRUE(InOrder(Joined(messages), {"Keeping 4 active log files of D:\\Domino\\Data\\logdir across the revert\r\n"
                                         "Their copies are in " + kKeptFolder}));
  const std::string& failure = messages.back();
  const std::string keptIn = "The log files as they were before the revert are kept in:\r\n" + kKeptFolder;
  EXPECT_TRUE(InOrder(failure, {"ERROR: Could not put the active log files back into D:\\Domino\\Data\\logdir:\r\n",
                                keptIn, "Recovery was not run.\r\n"}));
  // The copies: the live logs and the saved ones copied in for recovery.
  const std::size_t at = failure.find(keptIn) + keptIn.size() - kKeptFolder.size();
  std::string folder;
  ASSERT_EQ(platform::ToHostPath(failure.substr(at, failure.find("\r\n", at) - at), folder), 0u);
  EXPECT_EQ(Files(folder, true), (Names{"S0000040.TXN=forty", "S0000041.TXN=forty-one", "S0000042.TXN=current log",
                                        "SIMLOG.CTL=control"}));
}

TEST_F(RestoreRunTest, AHeldLockOrAFailedStartUpStopsBeforeAnythingElse) {
  EXPECT_CALL(domino, RecoverDatabaseList(_, _, _, _, _)).Times(0);
  {
    OutputSink holder;
    platform::OperationLockHandle held = AcquireOperationLock(holder);
    ASSERT_TRUE(held.valid());
    EXPECT_CALL(domino, InitRuntime(_, _)).Times(0);
    EXPECT_EQ(Run(), (Names{"ERROR: ARK backup or restore in progress (probably a scheduled event).\r\n",
                            "ERROR: Restore aborted. A current BACKUP/RESTORE is in progress\r\n"}));
    EXPECT_EQ(result, -1);
    EXPECT_EQ(events, Names{FailureEvent("UP TO THE MINUTE", "A current BACKUP/RESTORE is in progress.")});
    ::testing::Mock::VerifyAndClearExpectations(&domino);
  }
  EXPECT_TRUE(LockIsFree());

  ON_CALL(domino, InitRuntime(_, _)).WillByDefault(Return(0x0FFF));
  const std::string failed = "Could not initialize notes runtime. Restore snapshot failed.";
  EXPECT_EQ(Run(), Names{"ERROR: " + failed + "\r\n"});
  EXPECT_EQ(result, 0x0FFF);
  EXPECT_EQ(events, Names{FailureEvent("UP TO THE MINUTE", failed)});
  EXPECT_EQ(terms, 0);
  EXPECT_TRUE(component.state().calls.empty());
  EXPECT_TRUE(LockIsFree());
}

TEST_F(RestoreRunTest, AFailedRecoveryOrAnExceptionStillRemovesTheCopiedLogs) {
  recoveryStatus = ERR_LOGS_MISSING;
  const Names messages = Run();
  EXPECT_EQ(result, -1);
  EXPECT_EQ(logsDuringRecovery, (Names{"S0000040.TXN", "S0000041.TXN"}));
  EXPECT_TRUE(ActiveLogs().empty());
  const std::string failure = "ERROR: UP TO THE MINUTE Recovery failed. Restored snapshot is POINT IN TIME\r\n";
  ASSERT_GE(messages.size(), 4u);
  EXPECT_EQ(Names(messages.end() - 4, messages.end()),
            (Names{"\r\nRECOVERY FAILED: All log files could not be found.\r\n", "ERROR: Domino status 0x13E3\r\n",
                   failure, failure}));
  EXPECT_EQ(terms, 2);
  EXPECT_TRUE(LockIsFree());

  host.MakeRestorableSnapshot(kLogSeries);
  logsDuringRecovery.clear();
  ON_CALL(domino, RecoverDatabaseList(_, _, _, _, _))
      .WillByDefault([this](const char*, ArchivedLogCallbackFn, DWORD, WORD*, DWORD) -> STATUS {
        logsDuringRecovery = ActiveLogs();
        throw std::runtime_error("runtime crashed");
      });
  StreamRecorder recorder;
  EXPECT_THROW(PerformRestore(request), std::runtime_error);
  recorder.Stop();
  EXPECT_EQ(logsDuringRecovery, (Names{"S0000040.TXN", "S0000041.TXN"}));
  EXPECT_TRUE(ActiveLogs().empty());
  EXPECT_EQ(terms, 4);
  EXPECT_TRUE(LockIsFree());
}

TEST_F(RestoreRunTest, FailuresAfterTheSnapshotRestoreSayTheVolumeWasRestored) {
  // A change-information file the runtime refuses.
  ON_CALL(domino, ApplyChangeInfoStart(_, _, _, _, _)).WillByDefault(Return(0x0444));
  Names messages = Run();
  EXPECT_EQ(result, -1);
  const std::string applyFailed = "ERROR: Apply change information failed (although snapshot was restored).\r\n";
  ASSERT_GE(messages.size(), 2u);
  EXPECT_EQ(Names(messages.end() - 2, messages.end()), (Names{applyFailed, applyFailed}));
  EXPECT_EQ(Volume("a.nsf"), "database a at the snapshot");
  EXPECT_TRUE(ActiveLogs().empty());

  // The snapshot component refuses the snapshot: its text, once.
  component.state().restoreResult = E_FAIL;
  host.MakeRestorableSnapshot(kLogSeries);
  messages = Run();
  EXPECT_EQ(result, -1);
  ASSERT_GE(messages.size(), 2u);
  EXPECT_EQ(messages.back().rfind("ERROR: Restore SnapShot failed.\r\n", 0), 0u);
  EXPECT_EQ(messages[messages.size() - 2], "Restoring snapshot. Please wait...\r\n");
  EXPECT_TRUE(ActiveLogs().empty());
}

}  // namespace
