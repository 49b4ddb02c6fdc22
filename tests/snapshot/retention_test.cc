// Deleting a server's snapshots beyond the kept number: which snapshots go,
// the logs that newer snapshots still need, the ArkLedger directories and
// the "Delete Snapshot" report.
#include "snapshot/retention.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>

#include <gmock/gmock.h>

#include "platform/files.h"
#include "snapshot/log_saving.h"
#include "snapshot/snapshot_names.h"
#include "tests/snapshot/snapshot_test_host.h"

using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::MatchesRegex;

namespace {

class SnapshotRetention : public SnapshotHostTest {
 protected:
  void TearDown() override {
    EXPECT_EQ(fake().liveInterfaces, 0);
    EXPECT_EQ(fake().liveFactories, 0);
    SnapshotHostTest::TearDown();
  }
  int Delete(std::uint32_t keep) { return DeleteExcessSnapshots(server_, u"E", keep, deleted_); }
  const std::string& Said() const { return server_.output.accumulated; }

  std::int32_t deleted_ = -7;
};

// Sets or clears the immutable flag of a file: even root cannot remove it then.
bool SetImmutable(const fs::path& path, bool on) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  int flags = 0;
  bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (ok) {
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  ::close(fd);
  return ok;
}

}  // namespace

TEST_F(SnapshotRetention, KeepCountZeroKeepsTheNewestAndOtherServersAreUntouched) {
  const std::string d1 = Dated("srv1", "2-3-2003_9.5.7");
  const std::string d2 = Dated("srv1", "1-3-2003_9.5.7");
  fake().Add(u'E', Recent("SRV1"), Utc(2003, 3, 1, 0, 0, 0));
  fake().Add(u'E', Dated("srv10", "2-5-2003_1.0.0"), Utc(2003, 2, 5, 6, 0, 0));  // longer name
  fake().Add(u'E', d1, Utc(2003, 2, 3, 14, 5, 7));
  fake().Add(u'E', Recent("SRV10"), Utc(2003, 2, 1, 0, 0, 0));
  fake().Add(u'E', d2, Utc(2003, 1, 3, 14, 5, 7));
  WriteHostFile(Ledger(d1) / "Domino" / "x.nsf.dat", "change information");
  // d2's directory was removed earlier: deleted on the storage, no message.

  ASSERT_EQ(Delete(0), 0);
  EXPECT_EQ(deleted_, 2);
  EXPECT_EQ(Said(),
            "Preparing to delete snapshots in excess of 0\r\n"
            "Keeping at least the most recent snapshot: keep count 0 treated as 1.\r\n"
            "Removed snapshot sub directory: E:\\ledger\\srv1\\" + d1 + "\r\n");
  EXPECT_EQ(fake().Names(u'E'), (std::vector<std::string>{Recent("SRV1"), Dated("srv10", "2-5-2003_1.0.0"),
                                                          Recent("SRV10")}));
  EXPECT_FALSE(fs::exists(Ledger(d1)));

  const std::vector<fs::path> reports = Reports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].parent_path().filename(), "Delete Snapshot");
  const std::string report = ReadHostFile(reports[0]);
  EXPECT_THAT(report, HasSubstr("  Deletion Report\r\n\r\n"
                                "Deleted snapshot " + d1 + " on VOL vol1\r\n"
                                "Deleted snapshot " + d2 + " on VOL vol1\r\n"
                                "\r\n\r\nDeleted 2 snapshots."));
  EXPECT_THAT(report, EndsWith("Deleted 2 snapshots."));
  EXPECT_THAT(report.substr(0, report.find("  Deletion Report")),
              MatchesRegex("[0-9]+/[0-9]+/[0-9]+ [0-9]{2}:[0-9]{2}:[0-9]{2}:[0-9]{2,3}"));
}

TEST_F(SnapshotRetention, NothingToDeleteStillReportsUnlessOneSnapshotOnVolume) {
  // One snapshot on the whole volume: nothing deleted, no report.
  fake().Add(u'E', Dated("srv1", "2-3-2003_9.5.7"), Utc(2003, 2, 3, 14, 5, 7));
  ASSERT_EQ(Delete(1), 0);
  EXPECT_EQ(deleted_, 0);
  EXPECT_EQ(Said(), "Preparing to delete snapshots in excess of 1\r\n"
                    "Only one snapshot found, which is most recent. Deletion aborted.\r\n");
  EXPECT_THAT(fake().CallsStartingWith("Delete"), IsEmpty());
  EXPECT_THAT(Reports(), IsEmpty());

  // Several snapshots, none of this server's (one of a server whose name
  // begins with this one's): nothing deleted, a report with a count of 0.
  fake().volumes.clear();
  fake().Add(u'E', Recent("SRV10"), Utc(2003, 2, 3, 14, 5, 7));
  fake().Add(u'E', Dated("srv10", "2-1-2003_9.5.7"), Utc(2003, 2, 1, 14, 5, 7));
  fake().Add(u'E', Dated("srv2", "2-1-2003_9.5.7"), Utc(2003, 2, 1, 14, 5, 7));
  ASSERT_EQ(Delete(1), 0);
  EXPECT_EQ(deleted_, 0);
  EXPECT_THAT(fake().CallsStartingWith("Delete"), IsEmpty());
  ASSERT_EQ(Reports().size(), 1u);
  const std::string report = ReadHostFile(Reports()[0]);
  EXPECT_THAT(report, Not(HasSubstr("Deleted snapshot")));
  EXPECT_THAT(report, EndsWith("  Deletion Report\r\n\r\n\r\n\r\nDeleted 0 snapshots."));
}

TEST_F(SnapshotRetention, LogsStillNeededMoveToTheNewerSnapshot) {
  const std::string oldest = Dated("srv1", "1-1-2003_1.0.0");
  const std::string middle = Dated("srv1", "2-1-2003_1.0.0");
  fake().Add(u'E', Recent("SRV1"), Utc(2003, 3, 1, 6, 0, 0));
  fake().Add(u'E', middle, Utc(2003, 2, 1, 6, 0, 0));
  fake().Add(u'E', oldest, Utc(2003, 1, 1, 6, 0, 0));
  WriteHostFile(Ledger(oldest) / "log_hint", "3\r\n0000000f");
  WriteHostFile(Ledger(oldest) / "logs" / "S0000005.TXN", "log 5");
  WriteHostFile(Ledger(oldest) / "logs" / "S0000012.TXN", "log 12");
  WriteHostFile(Ledger(middle) / "log_hint", "10\r\n0000000f");  // no logs\ folder yet
  WriteHostFile(Ledger(middle) / "S0000030.txn", "log 30");
  // The recent snapshot's time comes from its snapshot_time_date file.
  WriteHostFile(Ledger(Recent("SRV1")) / "log_hint", "20\r\n0000000f");
  WriteHostFile(Ledger(Recent("SRV1")) / "snapshot_time_date", Dated("srv1", "3-1-2003_1.0.0"));
  // Another server's newer snapshot that would take any log: never used.
  const fs::path other = root_ / "E" / "ledger" / "srv2" / Dated("srv2", "12-1-2003_1.0.0");
  WriteHostFile(other / "log_hint", "1\r\n0000000f");

  ASSERT_EQ(Delete(2), 0);
  EXPECT_EQ(deleted_, 1);
  EXPECT_THAT(Said(), HasSubstr("Saving  log file E:\\ledger\\srv1\\" + oldest +
                                "\\logs\\S0000012.TXN\r\n"
                                "Moving to E:\\ledger\\srv1\\" + middle + "\\logs\\S0000012.TXN\r\n"));
  EXPECT_EQ(ReadHostFile(Ledger(middle) / "logs" / "S0000012.TXN"), "log 12");
  EXPECT_FALSE(fs::exists(Ledger(oldest)));  // log 5 is needed by no newer snapshot
  EXPECT_FALSE(fs::exists(other / "logs"));

  // Next: the middle snapshot goes; its log 30 is needed by the recent one
  // (found through snapshot_time_date), log 12 by none.
  server_.output = OutputSink{};
  ASSERT_EQ(Delete(1), 0);
  EXPECT_EQ(deleted_, 1);
  EXPECT_THAT(Said(), HasSubstr("Moving to E:\\ledger\\srv1\\" + Recent("SRV1") + "\\logs\\S0000030.TXN\r\n"));
  EXPECT_EQ(ReadHostFile(Ledger(Recent("SRV1")) / "logs" / "S0000030.TXN"), "log 30");
  EXPECT_FALSE(fs::exists(Ledger(middle)));
  EXPECT_FALSE(fs::exists(Ledger(Recent("SRV1")) / "logs" / "S0000012.TXN"));
}

// A snapshot that the component still lists after its deletion keeps its
// ArkLedger directory (without it the snapshot could not be restored), is
// not counted, and is named in a WARNING and a warning event; the call
// still succeeds, so the backup that ran it completes.
TEST_F(SnapshotRetention, ASnapshotStillListedKeepsItsDirectoryAndIsNotCounted) {
  const std::string d1 = Dated("srv1", "2-3-2003_9.5.7");
  const std::string d2 = Dated("srv1", "1-3-2003_9.5.7");
  const std::string kept = "WARNING: Snapshot " + d1 + " on VOL vol1 was not deleted; its ArkLedger directory is kept.\r\n";
  struct Case {
    const char* what;
    HRESULT deleteResult;
    int failingEnumeration;  // the enumeration after d1's deletion is the second
    std::string warning;
  };
  const std::vector<Case> cases{
      {"the component refuses", HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), 0,
       kept + platform::FormatMessageHr(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)) + "\r\n"},
      {"the component claims success", S_OK, 0, kept},
      {"the list afterwards cannot be read", S_OK, 2, kept + platform::FormatMessageHr(E_FAIL) + "\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fake().volumes.clear();
    fake().Add(u'E', Recent("SRV1"), Utc(2003, 3, 1, 0, 0, 0));
    fake().Add(u'E', d1, Utc(2003, 2, 3, 14, 5, 7));
    fake().Add(u'E', d2, Utc(2003, 1, 3, 14, 5, 7));
    fake().undeletable = {d1};
    fake().deleteResult = c.deleteResult;
    fake().enumerations = 0;
    fake().failingEnumeration = c.failingEnumeration;
    fake().enumerateResult = c.failingEnumeration != 0 ? E_FAIL : S_OK;
    WriteHostFile(Ledger(d1) / "log_hint", "3\r\n0000000f");
    WriteHostFile(Ledger(d2) / "x", "goes with its snapshot");
    fs::remove_all(root_ / "reports");
    fs::create_directories(root_ / "reports");
    fs::remove_all(root_ / "Logs");
    server_.output = OutputSink{};

    ASSERT_EQ(Delete(1), 0);
    EXPECT_EQ(deleted_, 1);
    EXPECT_THAT(Said(), HasSubstr(c.warning + "Removed snapshot sub directory: E:\\ledger\\srv1\\" + d2 + "\r\n"));
    EXPECT_EQ(ReadHostFile(Ledger(d1) / "log_hint"), "3\r\n0000000f");
    EXPECT_FALSE(fs::exists(Ledger(d2)));
    EXPECT_EQ(fake().Names(u'E'), (std::vector<std::string>{Recent("SRV1"), d1}));
    EXPECT_THAT(ReadHostFile(root_ / "Logs" / "Application.log"),
                HasSubstr("Warning category 1 event 0x40000073 arksvc: Snapshot " + d1 +
                          " of the Domino server srv1/Org on volume vol1 could not be deleted"));
    ASSERT_EQ(Reports().size(), 1u);
    const std::string report = ReadHostFile(Reports()[0]);
    EXPECT_THAT(report, HasSubstr(c.warning + "Deleted snapshot " + d2 + " on VOL vol1\r\n"));
    EXPECT_THAT(report, Not(HasSubstr("Deleted snapshot " + d1)));
    EXPECT_THAT(report, EndsWith("Deleted 1 snapshots."));
  }
}

TEST_F(SnapshotRetention, SnapshotTimesAndLogNumbersOfOddNames) {
  FILETIME t;
  // "recent" without its snapshot_time_date, or no stamp at all: no time.
  EXPECT_FALSE(snapshot::SnapshotTimeOfDirectory("E:\\ledger\\srv1\\" + Recent("SRV1"), t));
  EXPECT_FALSE(snapshot::SnapshotTimeOfDirectory("E:\\ledger\\a__b\\plain", t));
  EXPECT_EQ(snapshot::LogNumberOfFile("S12345678.TXN"), 12345678u);  // eight digits count whole
  EXPECT_EQ(snapshot::LogNumberOfFile("x.txn"), 0u);
  EXPECT_EQ(snapshot::LogNumberOfFile("S99999999999999.TXN"), 0xFFFFFFFFu);
}

TEST_F(SnapshotRetention, DirectoryThatCannotBeRemovedStopsWithoutReport) {
  const std::string d1 = Dated("srv1", "2-3-2003_9.5.7");
  const std::string d2 = Dated("srv1", "1-3-2003_9.5.7");
  fake().Add(u'E', Recent("SRV1"), Utc(2003, 3, 1, 0, 0, 0));
  fake().Add(u'E', d1, Utc(2003, 2, 3, 14, 5, 7));
  fake().Add(u'E', d2, Utc(2003, 1, 3, 14, 5, 7));
  WriteHostFile(Ledger(d1) / "pinned", "cannot go");
  WriteHostFile(Ledger(d2) / "x", "later snapshot stays");
  if (!SetImmutable(Ledger(d1) / "pinned", true)) {
    GTEST_SKIP() << "cannot set the immutable flag here (needs root and a file system that has it)";
  }
  const int result = Delete(1);
  SetImmutable(Ledger(d1) / "pinned", false);

  EXPECT_EQ(result, -1);
  EXPECT_EQ(deleted_, 1);
  EXPECT_THAT(Said(), HasSubstr("ERROR: Could not remove snapshot sub directory: E:\\ledger\\srv1\\" + d1 + "\r\n"));
  EXPECT_THAT(Said(), Not(HasSubstr("Removed snapshot sub directory")));
  EXPECT_EQ(fake().CallsStartingWith("Delete"), std::vector<std::string>{"Delete E " + d1});
  EXPECT_EQ(fake().Names(u'E'), (std::vector<std::string>{Recent("SRV1"), d2}));
  EXPECT_EQ(ReadHostFile(Ledger(d2) / "x"), "later snapshot stays");
  EXPECT_THAT(Reports(), IsEmpty());
}

TEST_F(SnapshotRetention, ComponentFailuresChangeNothing) {
  fake().Add(u'E', Recent("SRV1"), Utc(2003, 3, 1, 0, 0, 0));
  fake().Add(u'E', Dated("srv1", "2-3-2003_9.5.7"), Utc(2003, 2, 3, 14, 5, 7));

  fake().enumerateResult = E_FAIL;
  EXPECT_EQ(Delete(1), -1);
  EXPECT_THAT(Said(), EndsWith("ERROR: Couldn't enumerate snapshots in order to delete excess snapshots." +
                               platform::FormatMessageHr(E_FAIL) + "\r\n"));

  component_->Uninstall();
  server_.output = OutputSink{};
  EXPECT_EQ(Delete(1), -1);
  EXPECT_EQ(Said(), "Preparing to delete snapshots in excess of 1\r\n"
                    "ERROR could not initialize snapshot COM object. Delete aborted.\r\n" +
                        platform::FormatMessageHr(REGDB_E_CLASSNOTREG) + "\r\n");
  EXPECT_EQ(deleted_, 0);
  EXPECT_EQ(fake().Names(u'E').size(), 2u);
  EXPECT_THAT(Reports(), IsEmpty());
}
