// The snapshot cycle (with a backup-mode step that only takes the snapshot),
// TakeSnapshot and RecordRecentSnapshotTime.
#include "snapshot/snapshot_cycle.h"

#include "platform/files.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "tests/snapshot/snapshot_fixture.h"
#include "tests/support/text_checks.h"

namespace ark {

namespace {

using platform::ToUpperAnsi;

class SnapshotCycle;
struct CycleFailure {
  const char* name;
  std::function<void(SnapshotCycle&)> arrange;
  std::string message;
  std::string hint;  // the hint file after the run: as it was, or (from the rename on) with the dated name
  int renames = 0;   // of the snapshot, asked of the component
};
void PrintTo(const CycleFailure& row, std::ostream* os) { *os << row.name; }

class SnapshotCycle : public SnapshotHostTest, public ::testing::WithParamInterface<CycleFailure> {
 public:
  SnapshotCycle() {
    fs::create_directories(host_.Drive('E', "data"));
    fake().nextCreation = Utc(2003, 2, 4, 15, 30, 0);  // 10:30:00 local
  }
  int Run() {
    server_.output = OutputSink{};
    const BackupSteps steps{[](BackupRequest&, DominoServerInfo&, const std::string&, const std::u16string& drive,
                               const std::u16string& name) {
      std::string error;
      return TakeSnapshot(drive, name, error);
    }, nullptr};
    return RunSnapshotCycle(u"E", request_, server_, steps);
  }
  std::string TimeDate() const { return ReadHostFile(Ledger(Recent("SRV1")) / "snapshot_time_date"); }

  BackupRequest request_;
};

}  // namespace

// The recent snapshot of the last backup, in another letter case, is renamed
// to its time; another server's stays.
TEST_F(SnapshotCycle, TheNextBackupRenamesRecentToItsTime) {
  const std::string dated = Dated("srv1", "2-4-2003_10.30.0");
  fake().Add(u'E', "dominosnap__host1__srv1__RECENT", Utc(2003, 2, 4, 15, 30, 0));
  fake().Add(u'E', Recent("SRV2"), Utc(2003, 1, 1, 12, 0, 0));
  fake().nextCreation = Utc(2003, 2, 4, 16, 30, 0);
  WriteHostFile(Ledger("hint"), "DOMINOSNAP__HOST1__SRV1__RECENT\n");
  WriteHostFile(Ledger(Recent("SRV1")) / "snapshot_time_date", dated);
  ASSERT_EQ(Run(), 0);
  EXPECT_TRUE(Has(Said(), "Recent snapshot renamed to " + dated + "\r\n"));
  EXPECT_EQ(fake().CallsStartingWith("Rename"),
            std::vector<std::string>{"Rename E dominosnap__host1__srv1__RECENT -> " + dated});
  EXPECT_EQ(fake().Names(u'E'), (std::vector<std::string>{Recent("SRV1"), dated, Recent("SRV2")}));
  EXPECT_EQ(TimeDate(), Dated("srv1", "2-4-2003_11.30.0"));
  // Loaded name, then R (a repeat, skipped), then D, upper-cased.
  EXPECT_EQ(ReadHostFile(Ledger("hint")), "DOMINOSNAP__HOST1__SRV1__RECENT\n" + ToUpperAnsi(dated) + "\n");
}

TEST_F(SnapshotCycle, VolumeLimitsRefuseAt255AndWarnAt254) {
  // Snapshots on the volume, the flag to delete excess ones, the result, a warning.
  for (const auto& [count, deleteExcess, result, warns] : std::vector<std::tuple<int, bool, int, bool>>{
           {255, false, -1, false}, {254, false, 0, true}, {254, true, 0, false}, {256, false, 0, false}}) {
    SCOPED_TRACE(count);
    fake() = FakeComponentState{};
    fake().Add(u'E', Recent("SRV1"), Utc(2003, 2, 3, 14, 5, 7));
    for (int i = 1; i < count; ++i) fake().Add(u'E', "other" + std::to_string(i), Utc(2002, 1, 1, 0, 0, 0));
    fs::remove_all(host_.Drive('E', "ledger"));  // the last row's recent directory would clash
    request_.deleteExcessSnapshots = deleteExcess;
    EXPECT_EQ(Run(), result);
    EXPECT_EQ(Has(Said(), "WARNING: 254 snapshots are on this volume. Additional backups will not be possible\r\n"
                          "until existing snapshots are removed.\r\n"), warns);
    EXPECT_EQ(fake().CallsStartingWith("Create").empty(), result != 0);
    EXPECT_EQ(Has(Said(), "255 Snapshots are on this volume.  Please delete at least one before continuing.\r\n"),
              result != 0);
  }
  EXPECT_TRUE(Has(Said(), "There are currently 256 snapshots on VOL vol1.\n"));
}

const std::string kRecentOnly = Recent("SRV1") + "\n";
const std::string kDated = Dated("srv1", "2-3-2003_9.5.7");
const std::string kWithDated = ToUpperAnsi(Recent("SRV1") + "\n" + kDated + "\n");
const CycleFailure kCycleFailures[] = {
    {"ComponentMissing", [](auto& t) { t.component_.Uninstall(); }, "ERROR: Create Snapshot COM component FAILED\r\n",
     kRecentOnly},
    {"NoInterface", [](auto& t) { t.fake().instanceResult = E_NOINTERFACE; },
     "ERROR: Create Snapshot Interface FAILED\r\n", kRecentOnly},
    {"EnumerateFails", [](auto& t) { t.fake().enumerateResult = E_FAIL; },
     "ERROR: Could not enumerate snapshots.(COM FAILED)\r\n", kRecentOnly},
    {"NoLedger",
     [](auto&) { platform::WritePrivateProfileString("NOTES", "CHANGE_INFO_DIR", "", "C:\\Windows\\ark.ini"); },
     "ERROR: ArkLedger directory  could not be created.\r\n", kRecentOnly},
    {"RenameFails", [](auto& t) { t.fake().renameResult = HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED); },
     "ERROR: Could not rename snapshot to ." + kDated + "\r\n", kWithDated, 1},
    {"HintUnreadable", [](auto& t) { fs::remove(t.Ledger("hint")), fs::create_directories(t.Ledger("hint")); },
     "Could not read\\create Snapshot hint file:E:\\ledger\\srv1\\", ""},
    // The dated ArkLedger directory exists already: the snapshot gets its recent name back.
    {"DatedDirectoryClashes", [](auto& t) { WriteHostFile(t.Ledger(kDated) / "earlier", "kept"); },
     "ERROR: Could not rename ChangeInfoDir from: E:\\ledger\\srv1\\" + Recent("SRV1") + "\r\nto: E:\\ledger\\srv1\\" +
         kDated + "\r\n", kWithDated, 2},
};

// Nothing taken and nothing lost: the recent snapshot keeps its name and its
// ArkLedger directory, an existing dated directory stays as it was.
TEST_P(SnapshotCycle, EveryFailureSaysWhyAndReturnsMinusOne) {
  fake().Add(u'E', Recent("SRV1"), Utc(2003, 2, 3, 14, 5, 7));
  WriteHostFile(Ledger("hint"), kRecentOnly);
  WriteHostFile(Ledger(Recent("SRV1")) / "log_hint", "7\r\n0000000f");
  GetParam().arrange(*this);
  EXPECT_EQ(Run(), -1);
  EXPECT_TRUE(Has(Said(), GetParam().message)) << Said();
  EXPECT_EQ(GetParam().hint.empty() ? "" : ReadHostFile(Ledger("hint")), GetParam().hint);
  EXPECT_EQ(fake().CallsStartingWith("Rename").size(), std::size_t(GetParam().renames));
  EXPECT_EQ(fake().Names(u'E'), std::vector<std::string>{Recent("SRV1")});
  EXPECT_TRUE(fake().CallsStartingWith("Create").empty());
  EXPECT_EQ(ReadHostFile(Ledger(Recent("SRV1")) / "log_hint"), "7\r\n0000000f");
  EXPECT_EQ(ReadHostFile(Ledger(kDated) / "earlier"), GetParam().renames == 2 ? "kept" : "");
}
INSTANTIATE_TEST_SUITE_P(Rows, SnapshotCycle, ::testing::ValuesIn(kCycleFailures));

TEST_F(SnapshotCycle, TakeSnapshotAndRecordRecentSnapshotTime) {
  std::string error = "earlier text";
  fake().createResult = S_FALSE;  // only exactly S_OK counts
  EXPECT_EQ(TakeSnapshot(u"E", u"snap", error), -1);
  EXPECT_EQ(error, "Failed to create snapshot (CreateSnapShot method failed).\r\n" +
                       platform::FormatMessageHr(S_FALSE) + "\r\n");
  component_.Uninstall();
  EXPECT_EQ(TakeSnapshot(u"E", u"snap", error), -1);
  EXPECT_EQ(error, "Could not create Snapshot COM Object.\r\n" + platform::FormatMessageHr(REGDB_E_CLASSNOTREG) + "\r\n");
  component_.Install();
  fake().createResult = S_OK;
  EXPECT_EQ(TakeSnapshot(u"EF", u"snap", error), 0);  // one drive letter: the first
  EXPECT_EQ(fake().calls.back(), "Create E snap");

  fake().volumes.clear();
  EXPECT_EQ(RecordRecentSnapshotTime(u"E", server_), -1);
  EXPECT_EQ(Said(), "ERROR: ChangeInfoDir does not exist.\r\n");
  // No recent snapshot on the volume: the file stays as it was.
  WriteHostFile(Ledger(Recent("SRV1")) / "snapshot_time_date", "unchanged");
  fake().Add(u'E', Dated("srv1", "1-1-2003_1.1.1"), Utc(2003, 1, 1, 6, 1, 1));
  EXPECT_EQ(RecordRecentSnapshotTime(u"E", server_), 0);
  EXPECT_EQ(TimeDate(), "unchanged");
}

}  // namespace ark
