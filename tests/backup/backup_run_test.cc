// The backup run of one server, through the real snapshot cycle, against
// the journaling runtime fake and the fake snapshot component.
#include <unistd.h>

#include <regex>

#include "backup/backup_run.h"
#include "domino/settings.h"
#include "output/operation_lock.h"
#include "output/output.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/text.h"
#include "tests/backup/backup_host.h"
#include "tests/support/domino_doubles.h"
#include "tests/support/fake_component.h"
#include "tests/support/fake_host_seam.h"
#include "tests/support/text_checks.h"

namespace ark {

namespace {

const std::string kRecent = "dominosnap__ARKHOST__SRV1__recent";
const std::string A = "D:\\Domino\\Data\\a.nsf";
const std::string B = "D:\\Domino\\Data\\mail\\b.nsf";

class BackupRun;
struct Failure {
  const char* name;
  std::function<void(BackupRun&)> arrange;
  std::vector<std::string> said;  // in this order (refused: the whole report, one message)
  bool refused = false;
  std::vector<std::string> calls = {};  // of the runtime, when refused
  int givenUp = 0;                      // databases whose backup was given up
  std::size_t snapshots = 0;
  bool snapshotFailed = false, throws = false;
};
void PrintTo(const Failure& row, std::ostream* os) { *os << row.name; }

class BackupRun : public ::testing::TestWithParam<Failure> {
 public:
  // The host's clock stands still (2025-08-22 12:53:20 UTC) unless a test moves it.
  BackupRun() {
    seam_.now = [this](FILETIME& now) { now = clock_; };
    fake().nextCreation = clock_;
  }
  // a.nsf (logged, extent 8) and mail\b.nsf (not logged); one archivable log.
  void TwoDatabasesAndALog() {
    host_.Write('D', "Domino/Data/a.nsf", "A");
    host_.Write('D', "Domino/Data/mail/b.nsf", "B");
    host_.Write('D', "Logs/S0000007.TXN", "the log");
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
  int Run() { return BackupServer(request_, server_); }
  // After any run: nothing open, nothing in backup, runtime ended, lock free.
  void ExpectNothingHeld() {
    EXPECT_TRUE(dom_.inBackup.empty() && dom_.openHandles.empty());
    EXPECT_FALSE(dom_.running);
    platform::OperationLockHandle lock;
    EXPECT_TRUE(lock.Acquire(kOperationLockName));
  }
  FakeComponentState& fake() { return component_.state(); }
  std::string Events() const { return ReadHostFile(host_.path() / "Logs" / "Application.log"); }

  FILETIME clock_ = U64ToFileTime(134000000000000000ull);
  FakeHostSeam seam_;
  BackupHost host_;
  FakeDomino dom_;
  FakeComponent component_;
  BackupRequest request_;
  DominoServerInfo server_ = TestServer();
  platform::OperationLockHandle other_;  // another backup's or restore's lock
  std::unique_ptr<platform::FlushOverride> flushes_;
};

TEST_F(BackupRun, ASuccessfulRunLeavesEveryArtefact) {
  TwoDatabasesAndALog();
  std::size_t inBackupAtSnapshot = 0;
  fake().onCreate = [&](const std::string&) {  // the snapshot takes 60 ms
    inBackupAtSnapshot = dom_.inBackup.size();
    clock_ = U64ToFileTime(FileTimeToU64(clock_) + 60 * 10000);
  };
  // The window ends with the last database; the ArkLedger's files are
  // flushed after it, before the log copy.
  std::string flushedInWindow, flushedAfter;  // one path a line
  platform::FlushOverride flushes([&](const std::string& path) {
    (Has(ReportText(), "Domino backup mode stop completed") ? flushedAfter : flushedInWindow) += path + "\n";
    return ERROR_SUCCESS;
  });
  ASSERT_EQ(Run(), 0);
  EXPECT_FALSE(Has(flushedInWindow, "__recent")) << flushedInWindow;
  const std::string recent = "L:\\ArkLedger\\srv1\\" + kRecent;
  EXPECT_TRUE(InOrder(flushedAfter, {recent + "\\Domino\\Data\\a.nsf.dat\n", recent + "\\disabled_databases\n",
                                     recent + "\\logs\\S0000007.TXN\n"}));
  const std::string text = ReportText();
  EXPECT_TRUE(InOrder(text, {"Archiving D:\\Logs\\S0000007.TXN\r\nCompleted log copy.\r\n",
                             ": Backup Completed for Server: srv1/Org\r\n"}));
  // Each stamp is the time its line was made: the snapshot took 60 ms.
  static const std::regex stamp(R"(\d\d:\d\d:\d\d:(\d{2,3}): )");  // the milliseconds of each
  const std::vector<std::string> ms(std::sregex_token_iterator(text.begin(), text.end(), stamp, 1), {});
  EXPECT_EQ(ms, (std::vector<std::string>{"00", "60", "60"}));

  EXPECT_EQ(inBackupAtSnapshot, 2u);  // the snapshot was taken in backup mode
  ExpectNothingHeld();
  EXPECT_EQ(BackupWiz(), "1");
  EXPECT_TRUE(Has(Events(), "40000071") && Has(Events(), kRecent)) << Events();
  EXPECT_FALSE(Has(platform::ToUpperAnsi(Events()), "4000006C"));
}

const std::string kFailed = "FAILED Backup/Snapshot for srv1/Org \r\nERROR: Snapshot failed on vol_data.\r\n";
const std::string kInvalid = "ERROR: Invalid data directory for Server srv1/Org\r\n";
const Failure kFailures[] = {
    // The ArkLedger on the data volume: a restore would revert it too.
    {"LedgerOnDataDrive", [](auto&) { WriteNotesSetting("CHANGE_INFO_DIR", "D:\\ArkLedger", GetArkIniPath()); },
     {"ERROR: The ArkLedger directory D:\\ArkLedger (CHANGE_INFO_DIR) lies on drive D:, the data volume of server ",
      "C:\\Windows\\ark.ini to its new place.\r\nBackup aborted.\r\n"}},
    // The runtime does not start: no end for it.
    {"RuntimeDoesNotStart", [](auto& t) { t.server_.notesIniPath.clear(), t.dom_.initStatus = 0x0102; },
     {"Initialize notes system with \r\nERROR: cannot initialize notes for Server srv1/Org\r\n"}, true, {"InitRuntime 0"}},
    {"NoArchiving", [](auto& t) { t.server_.archiveLogging = 0; },
     {"ERROR: Server: srv1 is not set to archive mode.\r\nOnly archival transaction logging is supported.\r\n"
      "Backup aborted.\r\n"}, true},
    {"LockHeld", [](auto& t) { ASSERT_TRUE(t.other_.Acquire(kOperationLockName)); },
     {"ERROR: ARK backup or restore in progress (probably a scheduled event).\r\n"}, true},
    {"NoDataDirectory", [](auto& t) { t.server_.dataDirectory = ""; },
     {kInvalid + "Server directory is not specified\r\nReturned from backup mode\r\n" + kFailed}},
    {"DataDirectoryGone", [](auto& t) { t.server_.dataDirectory = "D:\\Domino\\Gone"; },
     {kInvalid + "Server directory 'D:\\Domino\\Gone' does not exist.\r\nReturned from backup mode\r\n" + kFailed}},
    {"CreateFails", [](auto& t) { t.fake().createResult = E_FAIL; },
     {"ERROR: Could not create snapshot\r\nBackup Aborted.\r\nFailed to create snapshot (CreateSnapShot method "
      "failed).\r\n", kFailed}, false, {}, 2, 0, true},
    // A file of the ArkLedger that cannot be flushed fails the backup after
    // the window, and nothing is archived.
    {"LedgerNotFlushed",
     [](auto& t) {
       t.flushes_ = std::make_unique<platform::FlushOverride>([](const std::string& path) {
         return path.ends_with("a.nsf.dat") ? ERROR_WRITE_FAULT : ERROR_SUCCESS;
       });
     },
     {"\r\nDomino backup mode stop completed\r\nERROR: Writing change information to file: L:\\ArkLedger\\",
      "a.nsf.dat failed.\r\nReturned from backup mode\r\n" + kFailed}, false, {}, 0, 1},
    // A disabled_databases that could not be written whole (a full
    // ArkLedger volume) is not left behind: it would mark the unfinished
    // backup finished.
    {"DisabledListUnwritable",
     [](auto& t) {
       if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full to write to";
       std::filesystem::create_directories(t.host_.Drive('L', "ArkLedger/srv1/" + kRecent));
       std::filesystem::create_symlink("/dev/full", t.host_.Drive('L', "ArkLedger/srv1/" + kRecent + "/disabled_databases"));
     },
     {"WARNING: Could not create disabled database file: \r\nL:\\ArkLedger\\srv1\\" + kRecent +
          "\\disabled_databases\r\nRestoration of this snapshot may only be POINT IN TIME\r\n",
      "\r\nDomino backup mode stop completed\r\nReturned from backup mode\r\n" + kFailed}, false, {}, 0, 1},
    // An exception mid-run still ends every backup, the runtime and the lock,
    // even when the runtime throws again while a backup is given up.
    {"RuntimeThrows", [](auto& t) { t.dom_.throws = {"GetChangeInfo " + A, "BackupStop " + B}; },
     {}, false, {}, 2, 1, false, true},
};

// Every database given up, no log archived, no BACKUPWIZ, nothing held;
// what was made stays; an event when the snapshot failed.
TEST_P(BackupRun, RefusalsAndCycleFailuresFailTheRunAndGiveEverythingBack) {
  const Failure& c = GetParam();
  TwoDatabasesAndALog();
  c.arrange(*this);
  if (IsSkipped()) return;
  if (c.throws) {
    EXPECT_THROW(Run(), std::runtime_error);
  } else {
    EXPECT_EQ(Run(), -1);
  }
  other_.Close();
  if (c.refused) {
    EXPECT_EQ(ReportText(), c.said[0]);
    EXPECT_EQ(request_.output.accumulated, ReportText());  // one message
    EXPECT_EQ(dom_.calls, c.calls);
    EXPECT_TRUE(fake().calls.empty());
  }
  EXPECT_TRUE(InOrder(ReportText(), c.said));
  EXPECT_FALSE(Has(ReportText(), "Backup Completed"));
  EXPECT_EQ(fake().Names(u'D').size(), c.snapshots);
  EXPECT_EQ(dom_.Count("BackupEnd " + A + " 1") + dom_.Count("BackupEnd " + B + " 1"), c.givenUp);
  EXPECT_TRUE(dom_.marked.empty());
  EXPECT_EQ(BackupWiz(), "");
  ExpectNothingHeld();
  EXPECT_FALSE(host_.Exists('D', "ArkLedger"));
  // Without disabled_databases, a restore or verify takes the snapshot for the unfinished backup it is.
  EXPECT_FALSE(std::filesystem::exists(
      std::filesystem::symlink_status(host_.Drive('L', "ArkLedger/srv1/" + kRecent + "/disabled_databases"))));
  EXPECT_EQ(Has(platform::ToUpperAnsi(Events()), "4000006C") && Has(Events(), "srv1/Org"), c.snapshotFailed);
}
INSTANTIATE_TEST_SUITE_P(Rows, BackupRun, ::testing::ValuesIn(kFailures));

TEST_F(BackupRun, DeleteExcessFlagRunsRetentionAfterTheSnapshot) {
  // Two dated snapshots of this server from earlier backups, oldest last.
  const std::uint64_t now = FileTimeToU64(clock_);
  fake().Add(u'D', "dominosnap__ARKHOST__SRV1__3-2-2020_9.5.7", U64ToFileTime(now - 3600 * 10000000ull));
  fake().Add(u'D', "dominosnap__ARKHOST__SRV1__3-1-2020_9.5.7", U64ToFileTime(now - 7200 * 10000000ull));
  ASSERT_EQ(Run(), 0);  // flag off: no retention
  EXPECT_FALSE(Has(ReportText(), "Removing snapshots"));
  ASSERT_EQ(fake().Names(u'D').size(), 3u);

  // Flag on, keep 3: the old recent snapshot became dated; of four, the oldest goes.
  request_.deleteExcessSnapshots = true;
  request_.keepCount = 3;
  ASSERT_EQ(Run(), 0);
  EXPECT_TRUE(InOrder(ReportText(), {": Snapshot Complete on VOL vol_data for Virtual Disk D\r\n",
                                     ": Removing snapshots in excess of 3\r\n", ": Deleted 1 snapshots\r\n",
                                     ": Backup Completed for Server: srv1/Org\r\n"}));
  EXPECT_EQ(fake().Names(u'D').size(), 3u);

  // Retention that fails after a good snapshot fails the run.
  WriteNotesSetting("BACKUPWIZ", "", GetArkIniPath());
  fake().enumerations = 0;
  fake().enumerateResult = E_FAIL;
  fake().failingEnumeration = 4;  // cycle, hint file, recent time, retention
  EXPECT_EQ(Run(), -1);
  EXPECT_FALSE(Has(ReportText(), "Backup Completed") || Has(ReportText(), "Deleted"));
  EXPECT_EQ(BackupWiz(), "");
  ExpectNothingHeld();
}

}  // namespace

}  // namespace ark
