// The snapshot cycle end to end (with the real backup-mode step over an
// empty data directory and a mock Domino API), TakeSnapshot and
// RecordRecentSnapshotTime.
#include "snapshot/snapshot_cycle.h"

#include <gmock/gmock.h>

#include "backup/backup_run.h"
#include "domino/domino_api.h"
#include "platform/files.h"
#include "platform/text.h"
#include "tests/snapshot/snapshot_test_host.h"
#include "tests/support/mock_domino_api.h"

using ::testing::_;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::NiceMock;
using ::testing::Not;
using ::testing::Return;

namespace {

constexpr const char* kRecentDir = "E:\\ledger\\srv1\\dominosnap__HOST1__SRV1__recent";

class SnapshotCycle : public SnapshotHostTest {
 protected:
  void SetUp() override {
    SnapshotHostTest::SetUp();
    fs::create_directories(root_ / "E" / "data");
    ON_CALL(api_, ArchiveBegin()).WillByDefault(Return(STATUS(0)));
    ON_CALL(api_, ArchiveEnd()).WillByDefault(Return(STATUS(0)));
    ON_CALL(api_, GetFirstArchiveLog(_, _, _)).WillByDefault(Return(ERR_NO_MORE_LOGS));
    ON_CALL(api_, GetNextArchiveLog(_, _, _)).WillByDefault(Return(ERR_NO_MORE_LOGS));
    fake().nextCreation = Utc(2003, 2, 4, 15, 30, 0);  // 10:30:00 local
  }
  void TearDown() override {
    // Whatever the cycle did, it gave back every interface and factory.
    EXPECT_EQ(fake().liveInterfaces, 0);
    EXPECT_EQ(fake().liveFactories, 0);
    SnapshotHostTest::TearDown();
  }

  int Run() { return RunSnapshotCycle(u"E", request_, server_, RunBackupModeStep); }
  const std::string& Said() const { return server_.output.accumulated; }

  NiceMock<MockDominoApi> api_;
  BackupRequest request_;
};

}  // namespace

TEST_F(SnapshotCycle, FirstBackupWithoutRecentTakesSnapshotUnderRecentName) {
  fake().Add(u'E', Recent("SRV2"), Utc(2003, 1, 1, 12, 0, 0));  // another server's

  ASSERT_EQ(Run(), 0);
  EXPECT_EQ(Said(),
            "Enumerating Snapshots (in order to rename recent to time/date)\r\n"
            "Enumerating Snapshots COMPLETE\r\n"
            "There are currently 1 snapshots on VOL vol1.\n"
            "Placing Domino server in backup mode\r\n"
            "Returned from backup mode\r\n"
            "Copying logs to ArkLedger dir...\r\n"
            "Completed log copy.\r\n"
            "Enumerating Snapshots (in order to find recent)\r\n"
            "Enumerating Snapshots COMPLETE\r\n");
  EXPECT_THAT(fake().CallsStartingWith("Rename"), IsEmpty());
  EXPECT_EQ(fake().CallsStartingWith("Create"),
            std::vector<std::string>{"Create E " + Recent("SRV1")});
  EXPECT_EQ(fake().Names(u'E'), (std::vector<std::string>{Recent("SRV1"), Recent("SRV2")}));

  // The hint list got R and an empty name: the file holds R once, upper-cased.
  EXPECT_EQ(ReadHostFile(Ledger("hint")), "DOMINOSNAP__HOST1__SRV1__RECENT\n");
  // The dated name the new snapshot will get, without a line end.
  EXPECT_EQ(ReadHostFile(Ledger(Recent("SRV1")) / "snapshot_time_date"),
            Dated("srv1", "2-4-2003_10.30.0"));
  // The backup-mode step wrote its files into the recent directory.
  EXPECT_TRUE(fs::exists(Ledger(Recent("SRV1")) / "disabled_databases"));
  EXPECT_THAT(request_.output.accumulated, HasSubstr("Completed CreateSnapShot method\r\n"));
}

TEST_F(SnapshotCycle, SecondBackupRenamesRecentFoundInAnotherLetterCase) {
  const std::string oldRecent = "dominosnap__host1__srv1__RECENT";
  fake().Add(u'E', oldRecent, Utc(2003, 2, 3, 14, 5, 7));
  WriteHostFile(Ledger("hint"), platform::ToUpperAnsi(oldRecent) + "\n");
  WriteHostFile(Ledger(Recent("SRV1")) / "Domino" / "x.nsf.dat", "change information");
  WriteHostFile(Ledger(Recent("SRV1")) / "snapshot_time_date", Dated("srv1", "2-3-2003_9.5.7"));
  const std::string dated = Dated("srv1", "2-3-2003_9.5.7");

  ASSERT_EQ(Run(), 0);
  EXPECT_THAT(Said(), HasSubstr("There are currently 1 snapshots on VOL vol1.\n"
                                "Found and renaming recent snapshot\r\n"
                                "Recent snapshot renamed to " + dated + "\r\n"
                                "Placing Domino server in backup mode\r\n"));
  EXPECT_EQ(fake().CallsStartingWith("Rename"),
            std::vector<std::string>{"Rename E " + oldRecent + " -> " + dated});
  EXPECT_EQ(fake().Names(u'E'), (std::vector<std::string>{Recent("SRV1"), dated}));
  // The change information went with the snapshot to its dated directory.
  EXPECT_EQ(ReadHostFile(Ledger(dated) / "Domino" / "x.nsf.dat"), "change information");
  EXPECT_FALSE(fs::exists(Ledger(Recent("SRV1")) / "Domino"));
  EXPECT_EQ(ReadHostFile(Ledger(Recent("SRV1")) / "snapshot_time_date"),
            Dated("srv1", "2-4-2003_10.30.0"));
  // Loaded name (as the file had it), then R (a repeat, skipped), then D.
  EXPECT_EQ(ReadHostFile(Ledger("hint")),
            platform::ToUpperAnsi(oldRecent) + "\n" + platform::ToUpperAnsi(dated) + "\n");
}

TEST_F(SnapshotCycle, VolumeLimitsRefuseAt255AndWarnAt254) {
  const std::string warning =
      "WARNING: 254 snapshots are on this volume. Additional backups will not be possible\r\n"
      "until existing snapshots are removed.\r\n";
  auto fill = [&](int count) {
    fake().volumes.clear();
    fake().Add(u'E', Recent("SRV1"), Utc(2003, 2, 3, 14, 5, 7));
    for (int i = 1; i < count; ++i) {
      fake().Add(u'E', "other" + std::to_string(i), U64ToFileTime(FileTimeToU64(Utc(2002, 1, 1, 0, 0, 0)) - i));
    }
    fake().calls.clear();
    server_.output = OutputSink{};
    std::error_code ignored;
    fs::remove_all(root_ / "E" / "ledger", ignored);
  };

  fill(255);
  EXPECT_EQ(Run(), -1);
  EXPECT_EQ(Said(),
            "Enumerating Snapshots (in order to rename recent to time/date)\r\n"
            "Enumerating Snapshots COMPLETE\r\n"
            "There are currently 255 snapshots on VOL vol1.\n"
            "255 Snapshots are on this volume.  Please delete at least one before continuing.\r\n");
  EXPECT_THAT(fake().CallsStartingWith("Rename"), IsEmpty());
  EXPECT_THAT(fake().CallsStartingWith("Create"), IsEmpty());

  fill(254);
  request_.deleteExcessSnapshots = false;
  EXPECT_EQ(Run(), 0);
  EXPECT_THAT(Said(), HasSubstr("There are currently 254 snapshots on VOL vol1.\n" + warning +
                                "Found and renaming recent snapshot\r\n"));

  fill(254);
  request_.deleteExcessSnapshots = true;
  EXPECT_EQ(Run(), 0);
  EXPECT_THAT(Said(), Not(HasSubstr("WARNING")));

  fill(256);  // only exactly 255 is refused
  EXPECT_EQ(Run(), 0);
}

TEST_F(SnapshotCycle, ClashOfDatedDirectoryGivesRecentNameBack) {
  fake().Add(u'E', Recent("SRV1"), Utc(2003, 2, 3, 14, 5, 7));
  const std::string dated = Dated("srv1", "2-3-2003_9.5.7");
  WriteHostFile(Ledger(dated) / "earlier", "kept");
  WriteHostFile(Ledger(Recent("SRV1")) / "log_hint", "7\r\n0000000f");

  EXPECT_EQ(Run(), -1);
  EXPECT_THAT(Said(), HasSubstr(std::string("ERROR: Could not rename ChangeInfoDir from: ") +
                                kRecentDir + "\r\nto: E:\\ledger\\srv1\\" + dated + "\r\n"));
  EXPECT_EQ(fake().CallsStartingWith("Rename"),
            (std::vector<std::string>{"Rename E " + Recent("SRV1") + " -> " + dated,
                                      "Rename E " + dated + " -> " + Recent("SRV1")}));
  EXPECT_EQ(fake().Names(u'E'), std::vector<std::string>{Recent("SRV1")});
  EXPECT_THAT(fake().CallsStartingWith("Create"), IsEmpty());
  // Nothing lost on either side.
  EXPECT_EQ(ReadHostFile(Ledger(dated) / "earlier"), "kept");
  EXPECT_EQ(ReadHostFile(Ledger(Recent("SRV1")) / "log_hint"), "7\r\n0000000f");
}

TEST_F(SnapshotCycle, EveryFailureSaysWhyAndReturnsMinusOne) {
  struct Case {
    const char* what;
    std::function<void()> arrange;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"not installed", [&] { component_->Uninstall(); },
       "ERROR: Create Snapshot COM component FAILED\r\n"},
      {"no interface", [&] { fake().instanceResult = E_NOINTERFACE; },
       "ERROR: Create Snapshot Interface FAILED\r\n"},
      {"enumeration", [&] { fake().enumerateResult = E_FAIL; },
       "ERROR: Could not enumerate snapshots.(COM FAILED)\r\n"},
      {"no ledger root",
       [&] { platform::WritePrivateProfileString("NOTES", "CHANGE_INFO_DIR", "", "C:\\Windows\\ark.ini"); },
       "ERROR: ArkLedger directory  could not be created.\r\n"},
      {"rename", [&] { fake().renameResult = HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED); },
       "ERROR: Could not rename snapshot to ." + Dated("srv1", "2-3-2003_9.5.7") + "\r\n"},
      {"snapshot", [&] { fake().createResult = E_FAIL; }, "FAILED Backup/Snapshot for srv1/Org \r\n"},
      {"hint file", [&] { fs::remove(Ledger("hint")); fs::create_directories(Ledger("hint")); },
       "Could not read\\create Snapshot hint file:E:\\ledger\\srv1\\"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fake().volumes.clear();
    fake().Add(u'E', Recent("SRV1"), Utc(2003, 2, 3, 14, 5, 7));
    WriteHostFile(Ledger("hint"), Recent("SRV1") + "\n");
    c.arrange();
    server_.output = OutputSink{};
    EXPECT_EQ(Run(), -1);
    EXPECT_THAT(Said(), HasSubstr(c.message));
    // A failed cycle leaves the hint file as it was, except that from the
    // rename on it names the recent snapshot's dated name too.
    if (fs::is_regular_file(Ledger("hint"))) {
      const std::string expected =
          c.what == std::string("snapshot") || c.what == std::string("rename")
              ? platform::ToUpperAnsi(Recent("SRV1") + "\n" + Dated("srv1", "2-3-2003_9.5.7") + "\n")
              : Recent("SRV1") + "\n";
      EXPECT_EQ(ReadHostFile(Ledger("hint")), expected);
    }
    // Reset for the next case.
    component_->Install();
    fake() = FakeComponentState{};
    platform::WritePrivateProfileString("NOTES", "CHANGE_INFO_DIR", "E:\\ledger", "C:\\Windows\\ark.ini");
    std::error_code ignored;
    fs::remove_all(root_ / "E" / "ledger", ignored);
  }
}

TEST_F(SnapshotCycle, TakeSnapshotErrorTexts) {
  std::string error = "earlier text";
  fake().createResult = S_FALSE;  // only exactly S_OK counts
  EXPECT_EQ(TakeSnapshot(u"E", u"snap", 0, error), -1);
  EXPECT_EQ(error, "Failed to create snapshot (CreateSnapShot method failed).\r\n" +
                       platform::FormatMessageHr(S_FALSE) + "\r\n");
  component_->Uninstall();
  EXPECT_EQ(TakeSnapshot(u"E", u"snap", 0, error), -1);
  EXPECT_EQ(error, "Could not create Snapshot COM Object.\r\n" +
                       platform::FormatMessageHr(REGDB_E_CLASSNOTREG) + "\r\n");
  EXPECT_TRUE(fake().Names(u'E').empty());

  component_->Install();
  fake().createResult = S_OK;
  EXPECT_EQ(TakeSnapshot(u"EF", u"snap", 0, error), 0);  // one drive letter: the first
  EXPECT_EQ(fake().calls.back(), "Create E snap");
}

TEST_F(SnapshotCycle, RecordRecentSnapshotTimeNeedsDirectoryAndRecent) {
  EXPECT_EQ(RecordRecentSnapshotTime(u"E", request_, server_), -1);
  EXPECT_EQ(Said(), "ERROR: ChangeInfoDir does not exist.\r\n");

  // No recent snapshot on the volume: the file stays as it was.
  WriteHostFile(Ledger(Recent("SRV1")) / "snapshot_time_date", "unchanged");
  fake().Add(u'E', Dated("srv1", "1-1-2003_1.1.1"), Utc(2003, 1, 1, 6, 1, 1));
  EXPECT_EQ(RecordRecentSnapshotTime(u"E", request_, server_), 0);
  EXPECT_EQ(ReadHostFile(Ledger(Recent("SRV1")) / "snapshot_time_date"), "unchanged");

  fake().Add(u'E', "DOMINOSNAP__HOST1__SRV1__RECENT", Utc(2003, 12, 24, 23, 59, 58));
  EXPECT_EQ(RecordRecentSnapshotTime(u"E", request_, server_), 0);
  EXPECT_EQ(ReadHostFile(Ledger(Recent("SRV1")) / "snapshot_time_date"),
            Dated("srv1", "12-24-2003_18.59.58"));
}
