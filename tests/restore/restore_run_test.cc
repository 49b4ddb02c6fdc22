// The restore run: the text of a successful run, and on every way out
// (refusal, failure after the revert, exception) the reason, one failure
// event, the copied logs gone, the runtime ended and the lock given back.
#include "domino/settings.h"
#include "ledger/restore_journal.h"
#include "output/operation_lock.h"
#include "platform/eventlog.h"
#include "platform/files.h"
#include "platform/host.h"
#include "platform/text.h"
#include "restore/restore_run.h"
#include "tests/restore/restore_host.h"
#include "tests/support/fake_component.h"
#include "tests/support/fake_host_seam.h"
#include "tests/support/snapshotsvc_mount.h"
#include "tests/support/text_checks.h"

namespace ark {

using ::testing::_;

namespace {

const std::string kCanceled = "Restore canceled; the volume was not changed.\r\n";
const std::string kKeptFolder = "L:\\ArkLedger\\$kept_logs\\srv1\\";
constexpr std::int32_t kThrew = -99;  // the run threw

class RestoreRunTest;
enum Stage { kRefused, kComponentFailed, kReverted };
struct Failure {  // a way out of the run
  const char* name;
  std::function<void(RestoreRunTest&)> arrange;
  std::string said;    // the end of the text (whole: all of it)
  bool whole = false;
  Stage stage = kRefused;
  std::int32_t result = -1;
  int terms = 2;       // runtime ends: in the start-up sequence and at the end
};
void PrintTo(const Failure& row, std::ostream* os) { *os << row.name; }

class RestoreRunTest : public ::testing::TestWithParam<Failure> {
 public:
  // An up-to-the-minute request of the restorable snapshot; no fault set.
  RestoreRunTest() {
    ON_CALL(domino, InitRuntime(_, _)).WillByDefault([this](int, char**) { return initStatus; });
    ON_CALL(domino, TermRuntime()).WillByDefault([this] { ++terms; });
    ON_CALL(domino, ApplyChangeInfoStart(_, _, _, _, _))
        .WillByDefault([this](DWORD*, const char*, DWORD, DWORD, DWORD) { return applyStatus; });
    ON_CALL(domino, RecoverDatabaseList(_, _, _, _, _))
        .WillByDefault([this](const char* packed, ArchivedLogCallbackFn, DWORD, WORD*, TIMEDATE*) -> STATUS {
          recovered = UnpackList(packed);
          logsDuringRecovery = ActiveLogs();
          std::printf("Recovered %zu databases\n", recovered.size());
          std::fflush(stdout);
          if (recoveryThrows) throw std::runtime_error("runtime crashed");
          return recoveryStatus;
        });
    domino.currentLog = 42;
    component.state().restoreFrom = host.path() / "snapshots";
    platform::SetEventObserver([this](const platform::EventRecord& event) { events.push_back(event); });
    HostChecks(10000);
    host.MakeRestorableSnapshot();
  }
  ~RestoreRunTest() override { platform::SetEventObserver(nullptr); }

  // Domino as dominoRunning says; megabytes free on every drive but L:.
  void HostChecks(std::uint32_t free, std::uint32_t freeOnL = 10000) {
    seam_.isDominoRunning = [this] { return dominoRunning; };
    seam_.freeDiskMegabytes = [this, free, freeOnL](const std::string& drive, std::uint32_t& megabytes) {
      queriedDrives += drive;
      megabytes = drive == "L" ? freeOnL : free;
      return true;
    };
  }
  Names ActiveLogs() const {  // with their contents
    std::string dir;
    if (platform::ToHostPath(request.server.logDirectory, dir) != 0) return {"(unmapped)"};
    return snaptest::Listing(dir);
  }
  void LogsBelowTheDataDirectory() {
    request.server.logDirectory = "D:\\Domino\\Data\\logdir";
    request.server.logVolume.driveLetter = u'D';
    WriteHostFile(host.Drive('D', "Domino/Data/logdir/S0000042.TXN"), "current log");
    WriteHostFile(host.Drive('D', "Domino/Data/logdir/SIMLOG.CTL"), "control");
  }
  // Runs the restore (kThrew when it throws); returns the run's text.
  std::string Run() {
    try {
      result = PerformRestore(request);
    } catch (const std::runtime_error&) {
      result = kThrew;
    }
    return request.output.accumulated;
  }

  FakeHostSeam seam_;  // the process check and free space of this test's host
  RestoreHost host;
  ::testing::NiceMock<IdleDominoApi> domino;
  FakeComponent component;
  RestoreRequest request = MakeRequest(0);
  platform::OperationLockHandle held;  // another operation's lock
  bool dominoRunning = false, recoveryThrows = false;
  int terms = 0;
  STATUS initStatus = 0, applyStatus = 0, recoveryStatus = 0;
  Names recovered, logsDuringRecovery;
  std::string queriedDrives;  // one letter per free-space query
  std::vector<platform::EventRecord> events;
  std::int32_t result = 99;
};

// The whole-host cycle checks the texts and data of a successful run; here
// what only a unit sees: the free-space drive, the logs during and after
// recovery, the runtime ended, the lock and the success event.
TEST_F(RestoreRunTest, UpToTheMinuteRunRestoresAppliesRecoversAndCleansUp) {
  // A log drive that is none of the storage's disks: the free space is that
  // of the log directory's own drive.
  request.server.logVolume.driveLetter = 0;
  host.WriteSavedLog(42, "the current log, never copied");
  EXPECT_TRUE(InOrder(Run(),
                      {"Checked the 1 change information file the backup listed: 0 missing or damaged.\r\n",
                       "Active log drive has 10000 MB free.\r\n128 MB to copy to active log drive.\r\n",
                       "Change information directory is:\r\n" + kLedger + "\r\n", "Recovered 1 databases\n"}));
  EXPECT_EQ(recovered, Names{"D:\\Domino\\Data\\a.nsf"});
  // The copied logs were there while recovery ran and are gone afterwards.
  EXPECT_EQ(logsDuringRecovery, (Names{"S0000040.TXN=forty", "S0000041.TXN=forty-one"}));
  EXPECT_TRUE(ActiveLogs().empty());
  EXPECT_EQ(queriedDrives, "E");
  EXPECT_EQ(terms, 2);  // once inside the start-up sequence, once at the end
  EXPECT_TRUE(platform::OperationLockHandle().Acquire(kOperationLockName));  // the lock is free
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].eventId, 0x4000006Fu);
  EXPECT_EQ(events[0].strings, (Names{"UP TO THE MINUTE", kSnapshotName, "srv1/Org"}));
}

// A run that died in recovery left the archived logs it had copied in: the
// next run removes them, says what it found and did, and restores.
TEST_F(RestoreRunTest, AnInterruptedRunsCopiedLogsGoFirst) {
  const std::string copied = "E:\\Logs\\S0000039.TXN";
  WriteHostFile(host.Drive('E', "Logs/S0000039.TXN"), "copied by the dead run");
  ASSERT_EQ(WriteRestoreJournal("L:\\ArkLedger\\$restore_journal\\srv1",
                                {"srv1/Org", kSnapshotName, "UP TO THE MINUTE", "t", "E:\\Logs", "",
                                 RestoreStep::Recovering, {copied}, {}, {}, {}}),
            ERROR_SUCCESS);
  EXPECT_TRUE(InOrder(Run(), {"Found an interrupted restore:\r\n",
                              "Its volume revert had started; this restore reverts the volume again.\r\n"
                              "Removed the 1 archived logs it had copied into the active log directory.\r\n"
                              "The interrupted restore is finished; going on with this one.\r\n",
                              "Recovered 1 databases\n"}));
  EXPECT_EQ(result, 0);
  EXPECT_EQ(logsDuringRecovery, (Names{"S0000040.TXN=forty", "S0000041.TXN=forty-one"}));
  EXPECT_TRUE(ActiveLogs().empty());
  EXPECT_FALSE(std::filesystem::exists(host.Drive('L', "ArkLedger/$restore_journal/srv1")));
}

// A run that takes over a volume an interrupted run left half restored and
// dies before its own revert starts (copying logs, keeping them aside) must
// leave a journal that still says the revert had started: else the next run
// takes the volume for untouched, and a refusal of that run unmarks it.
TEST_F(RestoreRunTest, ATakenOverVolumeStaysMarkedUntilItsOwnRevertStarts) {
  LogsBelowTheDataDirectory();
  const std::string journalPath = "L:\\ArkLedger\\$restore_journal\\srv1";
  ASSERT_EQ(WriteRestoreJournal(journalPath, {"srv1/Org", kSnapshotName, "UP TO THE MINUTE", "t",
                                              "D:\\Domino\\Data\\logdir", "", RestoreStep::LogsPutBack,
                                              {}, {}, {}, {}}),
            ERROR_SUCCESS);
  std::vector<std::string> stepsSeen;
  seam_.stepReached = [&](std::string_view step) {
    if (step != "keeping-logs" && step != "logs-kept") return;
    RestoreJournal left;
    ASSERT_EQ(ReadRestoreJournal(journalPath, left), ERROR_SUCCESS) << step;
    // What the next run would find, had this one died here.
    EXPECT_GE(left.step, RestoreStep::Reverting) << step << ": " << RestoreStepText(left.step);
    EXPECT_EQ(left.keptLogs, "") << step;  // a folder still being filled is never put back
    EXPECT_EQ(left.copiedLogs, (Names{"D:\\Domino\\Data\\logdir\\S0000040.TXN",
                                      "D:\\Domino\\Data\\logdir\\S0000041.TXN"}))
        << step;
    stepsSeen.emplace_back(step);
  };
  const std::string text = Run();
  EXPECT_EQ(stepsSeen, (Names{"keeping-logs", "logs-kept"})) << text;
  EXPECT_EQ(result, 0) << text;
  EXPECT_FALSE(std::filesystem::exists(host.Drive('L', "ArkLedger/$restore_journal/srv1")));
}

// A run that died after it had put the logs back: the log directory holds
// them, and what was written there since stays; the folder goes.
TEST_F(RestoreRunTest, LogsAnInterruptedRunHadPutBackStayAsTheyAre) {
  LogsBelowTheDataDirectory();
  WriteHostFile(host.Drive('L', "ArkLedger/$kept_logs/srv1/dead/S0000042.TXN"), "current log");
  WriteHostFile(host.Drive('D', "Domino/Data/logdir/S0000043.TXN"), "written since");
  ASSERT_EQ(WriteRestoreJournal("L:\\ArkLedger\\$restore_journal\\srv1",
                                {"srv1/Org", kSnapshotName, "UP TO THE MINUTE", "t", "D:\\Domino\\Data\\logdir",
                                 kKeptFolder + "dead\\", RestoreStep::LogsPutBack, {}, {}, {}, {}}),
            ERROR_SUCCESS);
  EXPECT_TRUE(Has(Run(), "Its volume revert had started; this restore reverts the volume again.\r\n"));
  EXPECT_EQ(result, 0);
  EXPECT_EQ(ActiveLogs(), (Names{"S0000042.TXN=current log", "S0000043.TXN=written since", "SIMLOG.CTL=control"}));
  EXPECT_FALSE(std::filesystem::exists(host.Drive('L', "ArkLedger/$kept_logs/srv1")));
}

TEST_F(RestoreRunTest, PointInTimeRunNeverTouchesTheLogs) {
  request.pointInTime = 1;
  WriteHostFile(host.Drive('E', "Logs/S0000099.TXN"), "active log");
  component.state().restoreResult = E_HANDLE;  // counts as reverted
  // Taken before backups listed their change information: restored as before.
  std::filesystem::remove(host.Ledger("change_info_list"));

  EXPECT_TRUE(Has(Run(), "Transactions will be applied up to 3/2/2003 9:05:00\r\n"));
  EXPECT_EQ(result, 0);
  EXPECT_EQ(ActiveLogs(), Names{"S0000099.TXN=active log"});
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].strings.front(), "POINT IN TIME");
}

const std::string kLogsOnD = "ERROR: The active log directory D:\\Domino\\Data\\logdir lies on drive D:, which the "
                             "restore reverts, and its files cannot be kept across the revert:\r\n";
const std::string kArchiveOff = "ERROR: Transaction logging is disabled or not set to archive mode.\r\n"
                                "Please re-enabled archival transaction logging and perform a full backup.\r\n";
// A failure of the sequence is printed where it happens and again at the end.
std::string Twice(const std::string& said) { return said + said; }

const Failure kFailures[] = {
    {"DominoRunning", [](auto& t) { t.dominoRunning = true; },
     "ERROR: Domino is running. It needs to be shutdown before the restore process occurs.\r\nRestore canceled.\r\n",
     true},
    {"NoArchivingPit", [](auto& t) { t.request.server.archiveLogging = 0, t.request.pointInTime = 1; }, kArchiveOff,
     true},
    {"NoArchiving", [](auto& t) { t.request.server.archiveLogging = 0; }, kArchiveOff, true},
    {"NoLedgerDirectory", [](auto& t) { t.request.pointInTime = 1, std::filesystem::remove_all(t.host.Ledger()); },
     Twice("ERROR: The snapshot's ArkLedger directory does not exist:\r\n" + kLedger +
           "\r\nWithout it the change information recorded during the backup cannot be applied.\r\n" + kCanceled)},
    {"BackupNeverFinished", [](auto& t) { std::filesystem::remove(t.host.Ledger("disabled_databases")); },
     Twice("ERROR: The snapshot's ArkLedger directory holds no disabled_databases file:\r\n" + kLedger +
           "\\disabled_databases\r\nThe backup of this snapshot did not finish; its change information may be "
           "incomplete.\r\n" + kCanceled)},
    {"LogDriveFull", [](auto& t) { t.request.pointInTime = 2, t.HostChecks(100); },  // 2: up to the minute
     Twice("ERROR: Active log directory needs an additional 28MB.\r\nNot enough free space on the active log drive.\r\n")},
    {"LedgerOnDataDrive", [](auto&) { WriteNotesSetting("CHANGE_INFO_DIR", "d:\\ArkLedger", GetArkIniPath()); },
     Twice("ERROR: The ArkLedger directory d:\\ArkLedger (CHANGE_INFO_DIR) lies on drive D:, the data volume of server "
           "srv1/Org.\r\nA restore reverts that volume and would take the ArkLedger back to a time before the change "
           "information was written.\r\nMove the ArkLedger directory to a drive other than D: and set CHANGE_INFO_DIR "
           "in C:\\Windows\\ark.ini to its new place.\r\n" + kCanceled)},
    {"SizeChanged", [](auto& t) { WriteHostFile(t.host.Ledger("change_info_list"), "12 Domino\\Data\\a.nsf.dat\r\n"); },
     Twice("ERROR: The snapshot's change information is not as the backup wrote it (" + kLedger +
           "\\Domino\\Data\\a.nsf.dat).\r\n" + kCanceled)},
    {"NoRoomToKeepLogs", [](auto& t) { t.LogsBelowTheDataDirectory(), t.HostChecks(10000, 1); },
     Twice(kLogsOnD + "The ArkLedger drive L: has 1 MB free; their copies need 1 MB.\r\n" + kCanceled)},
    {"KeptLogsFolderBlocked",
     [](auto& t) { t.LogsBelowTheDataDirectory(), WriteHostFile(t.host.Drive('L', "ArkLedger/$kept_logs"), "a file"); },
     Twice(kLogsOnD + "The folder " + kKeptFolder + " could not be created.\r\n" + kCanceled)},
    // A journal that a later run cannot read: nothing is guessed.
    {"InterruptedRestoreUnreadable",
     [](auto& t) { WriteHostFile(t.host.Drive('L', "ArkLedger/$restore_journal/srv1"), "half a journal"); },
     Twice("ERROR: The restore journal L:\\ArkLedger\\$restore_journal\\srv1 of an interrupted restore cannot be "
           "read:\r\n" + platform::FormatMessage(ERROR_INVALID_DATA) + "\r\nThe active log files it kept are in a "
           "folder below L:\\ArkLedger\\$kept_logs; put them back into the log directory by hand, then delete the "
           "journal.\r\nRestore canceled; the volume was not changed.\r\n")},
    // An interrupted run had reverted the volume: refused after finishing
    // that run's work, the volume stays marked for the next backup.
    {"InterruptedThenRefused",
     [](auto& t) {
       t.request.pointInTime = 1, std::filesystem::remove_all(t.host.Ledger());
       ASSERT_EQ(WriteRestoreJournal("L:\\ArkLedger\\$restore_journal\\srv1",
                                     {"srv1/Org", kSnapshotName, "POINT IN TIME", "t", "E:\\Logs", "",
                                      RestoreStep::Reverting, {}, {}, {}, {}}),
                 ERROR_SUCCESS);
     },
     Twice("ERROR: The snapshot's ArkLedger directory does not exist:\r\n" + kLedger +
           "\r\nWithout it the change information recorded during the backup cannot be applied.\r\n" + kCanceled)},
    {"LockHeld", [](auto& t) { ASSERT_TRUE(t.held.Acquire(kOperationLockName)); },
     "ERROR: ARK backup or restore in progress (probably a scheduled event).\r\n"
     "ERROR: Restore aborted. A current BACKUP/RESTORE is in progress\r\n", true, kRefused, -1, 0},
    {"RuntimeDoesNotStart", [](auto& t) { t.initStatus = 0x0FFF; },
     "ERROR: Could not initialize notes runtime. Restore snapshot failed.\r\n", true, kRefused, 0x0FFF, 0},
    // The component refuses the snapshot: its text, once, with the description it left (not one left before).
    {"ComponentRefusesRestore", [](auto& t) { t.component.state().restoreResult = E_FAIL, platform::SetErrorDescription("stale"); },
     "Restoring snapshot. Please wait...\r\nERROR: Restore SnapShot failed.\r\n" + platform::FormatMessageHr(E_FAIL) +
         "\r\n", false, kComponentFailed},
    {"ComponentSaysWhy", [](auto& t) { t.component.state().restoreResult = E_FAIL, t.component.state().restoreDescription = "D: is full."; },
     "Restoring snapshot. Please wait...\r\nERROR: Restore SnapShot failed.\r\n" + platform::FormatMessageHr(E_FAIL) +
         "\r\nD: is full.\r\n", false, kComponentFailed},
    {"NoInterface", [](auto& t) { t.component.state().instanceResult = E_NOINTERFACE; },
     Twice("ERROR: Could not create Snapshot Inteferface.\r\n" + platform::FormatMessageHr(E_NOINTERFACE) + "\r\n")},
    {"ComponentNotInstalled", [](auto& t) { t.component.Uninstall(); },
     Twice("ERROR: Could not initialize COM\r\n" + platform::FormatMessageHr(REGDB_E_CLASSNOTREG) + "\r\n")},
    {"ApplyFails", [](auto& t) { t.applyStatus = 0x0444; },
     Twice("ERROR: Apply change information failed (although snapshot was restored).\r\n"), false, kReverted},
    {"RecoveryFails", [](auto& t) { t.recoveryStatus = ERR_LOGS_MISSING; },
     Twice("ERROR: UP TO THE MINUTE Recovery failed. Restored snapshot is POINT IN TIME\r\n"), false, kReverted},
    {"RecoveryThrows", [](auto& t) { t.recoveryThrows = true; }, "", false, kReverted, kThrew},
};

TEST_P(RestoreRunTest, EveryFailureSaysWhyAndGivesBackWhatItHeld) {
  const Failure& c = GetParam();
  c.arrange(*this);
  const Names volume = snaptest::Listing(host.Drive('D')), logs = ActiveLogs();
  const std::string text = Run();
  held.Close();
  EXPECT_EQ(result, c.result);
  EXPECT_TRUE(c.whole ? text == c.said : text.ends_with(c.said)) << text;
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].eventId, 0x4000006Du);
  EXPECT_EQ(component.state().calls.size(), c.stage == kRefused ? 0u : 1u);
  if (c.stage == kReverted) {
    EXPECT_EQ(ReadHostFile(host.Drive('D', "Domino/Data/a.nsf")), "database a at the snapshot");
  } else {
    EXPECT_EQ(snaptest::Listing(host.Drive('D')), volume);
  }
  EXPECT_EQ(ActiveLogs(), logs);  // the copied logs are gone again
  EXPECT_FALSE(std::filesystem::exists(host.Drive('L', "ArkLedger/$kept_logs/srv1")));
  // The run ended with its reason said: no journal asks a later run for more.
  const std::string name = c.name, journal = ReadHostFile(host.Drive('L', "ArkLedger/$restore_journal/srv1"));
  EXPECT_EQ(!journal.empty(), name == "InterruptedRestoreUnreadable" || name == "InterruptedThenRefused");
  if (name == "InterruptedThenRefused") {
    EXPECT_TRUE(Has(journal, "\r\nstep=logs put back\r\n")) << journal;
  }
  EXPECT_EQ(terms, c.terms);
  EXPECT_TRUE(platform::OperationLockHandle().Acquire(kOperationLockName));  // the lock is free
}
INSTANTIATE_TEST_SUITE_P(Rows, RestoreRunTest, ::testing::ValuesIn(kFailures));

// With the active logs on the reverted volume (kept across the revert),
// logs that cannot be put back stop the run before recovery, and the folder
// with their copies is named.
TEST_F(RestoreRunTest, LogsThatCannotBePutBackStopTheRunBeforeRecovery) {
  LogsBelowTheDataDirectory();
  // The snapshot holds a file where the log directory should be.
  WriteHostFile(host.path() / "snapshots" / kSnapshotName / "Domino/Data/logdir", "not a directory");
  const std::string failure = Run();
  EXPECT_EQ(result, -1);
  EXPECT_TRUE(recovered.empty() && logsDuringRecovery.empty());  // recovery never ran
  EXPECT_TRUE(InOrder(failure, {"Keeping 4 active log files of D:\\Domino\\Data\\logdir across the revert\r\n"
                                         "Their copies are in " + kKeptFolder}));
  const std::string keptIn = "The log files as they were before the revert are kept in:\r\n" + kKeptFolder;
  EXPECT_TRUE(InOrder(failure, {"ERROR: Could not put the active log files back into D:\\Domino\\Data\\logdir:\r\n",
                                keptIn, "Recovery was not run.\r\n"}));
  // The copies: the live logs and the saved ones copied in for recovery.
  const std::size_t at = failure.find(keptIn) + keptIn.size() - kKeptFolder.size();
  std::string folder;
  ASSERT_EQ(platform::ToHostPath(failure.substr(at, failure.find("\r\n", at) - at), folder), 0u);
  EXPECT_EQ(snaptest::Listing(folder), (Names{"S0000040.TXN=forty", "S0000041.TXN=forty-one", "S0000042.TXN=current log",
                                        "SIMLOG.CTL=control"}));
}

}  // namespace

}  // namespace ark
