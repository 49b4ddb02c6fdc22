// Deleting a server's snapshots beyond the kept number: which snapshots go,
// the logs that newer snapshots still need, the ArkLedger directories and
// the "Delete Snapshot" report.
#include "snapshot/retention.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>

#include <regex>

#include "platform/files.h"
#include "platform/kit/unique_fd.h"
#include "ledger/log_files.h"
#include "snapshot/log_saving.h"
#include "tests/snapshot/snapshot_fixture.h"
#include "tests/support/text_checks.h"

namespace ark {

namespace {

const std::string d1 = Dated("srv1", "2-3-2003_9.5.7");
const std::string d2 = Dated("srv1", "1-3-2003_9.5.7");

struct StillListed {  // a deletion of d1 that leaves it listed
  const char* name;
  HRESULT deleteResult;
  int failingEnumeration;  // the enumeration after d1's deletion is the second
  std::string warning;
};
void PrintTo(const StillListed& row, std::ostream* os) { *os << row.name; }

class SnapshotRetention : public SnapshotHostTest, public ::testing::WithParamInterface<StillListed> {
 protected:
  // Deletes beyond keep with no reports yet and nothing said.
  int Delete(std::uint32_t keep) {
    fs::remove_all(host_.path() / "reports");
    fs::create_directories(host_.path() / "reports");
    server_.output = OutputSink{};
    return DeleteExcessSnapshots(server_, u"E", keep, deleted_);
  }
  // The recent snapshot of srv1 and its dated d1 and d2, oldest last.
  void ThreeSnapshots() {
    fake().volumes.clear();
    fake().Add(u'E', Recent("SRV1"), Utc(2003, 3, 1, 0, 0, 0));
    fake().Add(u'E', d1, Utc(2003, 2, 3, 14, 5, 7));
    fake().Add(u'E', d2, Utc(2003, 1, 3, 14, 5, 7));
  }
  // The text of the one report, in the "Delete Snapshot" folder; "" for none.
  std::string Report() const {
    std::vector<std::string> texts;
    for (const auto& e : fs::recursive_directory_iterator(host_.path() / "reports")) {
      if (!e.is_regular_file()) continue;
      EXPECT_EQ(e.path().parent_path().filename(), "Delete Snapshot");
      texts.push_back(ReadHostFile(e.path()));
    }
    EXPECT_LE(texts.size(), 1u);
    return texts.empty() ? "" : texts[0];
  }
  std::int32_t deleted_ = -7;
};

// Sets or clears the immutable flag of a file: even root cannot remove it then.
bool SetImmutable(const fs::path& path, bool on) {
  const platform::kit::UniqueFd fd(::open(path.c_str(), O_RDONLY));
  int flags = 0;
  if (!fd.valid() || ::ioctl(fd.get(), FS_IOC_GETFLAGS, &flags) != 0) return false;
  flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
  return ::ioctl(fd.get(), FS_IOC_SETFLAGS, &flags) == 0;
}

}  // namespace

TEST_F(SnapshotRetention, WhichSnapshotsGoAndTheReport) {
  struct Case {
    std::vector<std::string> volume;  // newest first
    std::uint32_t keep;
    std::vector<std::string> left;
    std::string said;
    std::string report;  // its end; "" for none
  };
  const std::string srv10 = Dated("srv10", "2-5-2003_1.0.0");  // a longer server name
  const std::vector<Case> cases{
      {{Recent("SRV1"), srv10, d1, Recent("SRV10"), d2}, 0, {Recent("SRV1"), srv10, Recent("SRV10")},
       "Preparing to delete snapshots in excess of 0\r\n"
       "Keeping at least the most recent snapshot: keep count 0 treated as 1.\r\n"
       "Removed snapshot sub directory: E:\\ledger\\srv1\\" + d1 + "\r\n",  // d2 has no directory: no line
       "  Deletion Report\r\n\r\nDeleted snapshot " + d1 + " on VOL vol1\r\nDeleted snapshot " + d2 +
           " on VOL vol1\r\n\r\n\r\nDeleted 2 snapshots."},
      {{d1}, 1, {d1},
       "Preparing to delete snapshots in excess of 1\r\n"
       "Only one snapshot found, which is most recent. Deletion aborted.\r\n", ""},
      {{Recent("SRV10"), srv10, Dated("srv2", "2-1-2003_9.5.7")}, 1, {Recent("SRV10"), srv10, Dated("srv2", "2-1-2003_9.5.7")},
       "", "  Deletion Report\r\n\r\n\r\n\r\nDeleted 0 snapshots."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.said + c.report);
    fake().volumes.clear();
    for (std::size_t i = 0; i < c.volume.size(); ++i) {
      fake().Add(u'E', c.volume[i], U64ToFileTime(FileTimeToU64(Utc(2003, 3, 1, 0, 0, 0)) - i * 10000000ull * 86400));
    }
    WriteHostFile(Ledger(d1) / "Domino" / "x.nsf.dat", "change information");
    ASSERT_EQ(Delete(c.keep), 0);
    EXPECT_EQ(deleted_, std::int32_t(c.volume.size() - c.left.size()));
    EXPECT_EQ(c.said.empty() ? "" : Said(), c.said);
    EXPECT_EQ(fake().Names(u'E'), c.left);
    EXPECT_EQ(fs::exists(Ledger(d1)), c.volume.size() == c.left.size());
    const std::string report = Report();
    EXPECT_TRUE(c.report.empty() ? report.empty() : report.ends_with(c.report)) << report;
    const std::regex stamp("[0-9]+/[0-9]+/[0-9]+ [0-9]{2}:[0-9]{2}:[0-9]{2}:[0-9]{2,3}");
    EXPECT_TRUE(report.empty() || std::regex_match(report.substr(0, report.find("  Deletion Report")), stamp));
  }
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
  const fs::path other = host_.Drive('E', "ledger/srv2/" + Dated("srv2", "12-1-2003_1.0.0"));
  WriteHostFile(other / "log_hint", "1\r\n0000000f");

  ASSERT_EQ(Delete(2), 0);
  EXPECT_EQ(deleted_, 1);
  EXPECT_TRUE(Has(Said(), "Saving  log file E:\\ledger\\srv1\\" + oldest + "\\logs\\S0000012.TXN\r\n"
                          "Moving to E:\\ledger\\srv1\\" + middle + "\\logs\\S0000012.TXN\r\n"));
  EXPECT_EQ(ReadHostFile(Ledger(middle) / "logs" / "S0000012.TXN"), "log 12");
  EXPECT_FALSE(fs::exists(Ledger(oldest)));  // log 5 is needed by no newer snapshot
  EXPECT_FALSE(fs::exists(other / "logs"));

  // Next: the middle snapshot goes; its log 30 is needed by the recent one
  // (found through snapshot_time_date), log 12 by none.
  ASSERT_EQ(Delete(1), 0);
  EXPECT_EQ(deleted_, 1);
  EXPECT_TRUE(Has(Said(), "Moving to E:\\ledger\\srv1\\" + Recent("SRV1") + "\\logs\\S0000030.TXN\r\n"));
  EXPECT_EQ(ReadHostFile(Ledger(Recent("SRV1")) / "logs" / "S0000030.TXN"), "log 30");
  EXPECT_FALSE(fs::exists(Ledger(middle)));
  EXPECT_FALSE(fs::exists(Ledger(Recent("SRV1")) / "logs" / "S0000012.TXN"));

  FILETIME t;  // "recent" without its snapshot_time_date, or no stamp at all: no time
  EXPECT_FALSE(snapshot::SnapshotTimeOfDirectory("E:\\ledger\\srv2\\" + Recent("SRV2"), t));
  EXPECT_FALSE(snapshot::SnapshotTimeOfDirectory("E:\\ledger\\a__b\\plain", t));
  EXPECT_EQ(LogNumberOfFile("S12345678.TXN"), 12345678u);  // eight digits count whole
  EXPECT_EQ(LogNumberOfFile("x.txn"), 0u);
  EXPECT_EQ(LogNumberOfFile("S99999999999999.TXN"), 0xFFFFFFFFu);
}

// A snapshot that the component still lists after its deletion keeps its
// ArkLedger directory (without it the snapshot could not be restored), is
// not counted, and is named in a WARNING and a warning event; the call
// still succeeds, so the backup that ran it completes.
const std::string kKept =
    "WARNING: Snapshot " + d1 + " on VOL vol1 was not deleted; its ArkLedger directory is kept.\r\n";
const StillListed kStillListed[] = {
    {"DeletionRefused", HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), 0,
     kKept + platform::FormatMessageHr(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)) + "\r\n"},
    {"SuccessClaimed", S_OK, 0, kKept},
    {"ListUnreadable", S_OK, 2, kKept + platform::FormatMessageHr(E_FAIL) + "\r\n"},
};

TEST_P(SnapshotRetention, ASnapshotStillListedKeepsItsDirectoryAndIsNotCounted) {
  const StillListed& c = GetParam();
  ThreeSnapshots();
  fake().undeletable = {d1};
  fake().deleteResult = c.deleteResult;
  fake().failingEnumeration = c.failingEnumeration;
  fake().enumerateResult = c.failingEnumeration != 0 ? E_FAIL : S_OK;
  WriteHostFile(Ledger(d1) / "log_hint", "3\r\n0000000f");
  WriteHostFile(Ledger(d2) / "x", "goes with its snapshot");

  ASSERT_EQ(Delete(1), 0);
  EXPECT_EQ(deleted_, 1);
  EXPECT_TRUE(Has(Said(), c.warning + "Removed snapshot sub directory: E:\\ledger\\srv1\\" + d2 + "\r\n")) << Said();
  EXPECT_EQ(ReadHostFile(Ledger(d1) / "log_hint"), "3\r\n0000000f");
  EXPECT_FALSE(fs::exists(Ledger(d2)));
  EXPECT_EQ(fake().Names(u'E'), (std::vector<std::string>{Recent("SRV1"), d1}));
  EXPECT_TRUE(Has(ReadHostFile(host_.path() / "Logs" / "Application.log"),
                  "Warning category 1 event 0x40000073 arksvc: Snapshot " + d1 +
                      " of the Domino server srv1/Org on volume vol1 could not be deleted"));
  const std::string report = Report();
  EXPECT_TRUE(Has(report, c.warning + "Deleted snapshot " + d2 + " on VOL vol1\r\n"));
  EXPECT_FALSE(Has(report, "Deleted snapshot " + d1));
  EXPECT_TRUE(Has(report, "Deleted 1 snapshots."));
}
INSTANTIATE_TEST_SUITE_P(Rows, SnapshotRetention, ::testing::ValuesIn(kStillListed));

TEST_F(SnapshotRetention, FailuresStopWithoutReport) {
  ThreeSnapshots();
  fake().enumerateResult = E_FAIL;
  EXPECT_EQ(Delete(1), -1);
  EXPECT_TRUE(Has(Said(), "ERROR: Couldn't enumerate snapshots in order to delete excess snapshots." +
                              platform::FormatMessageHr(E_FAIL) + "\r\n"));
  fake().enumerateResult = S_OK;
  component_.Uninstall();
  EXPECT_EQ(Delete(1), -1);
  EXPECT_EQ(Said(), "Preparing to delete snapshots in excess of 1\r\n"
                    "ERROR could not initialize snapshot COM object. Delete aborted.\r\n" +
                        platform::FormatMessageHr(REGDB_E_CLASSNOTREG) + "\r\n");
  EXPECT_EQ(deleted_, 0);
  EXPECT_EQ(fake().Names(u'E').size(), 3u);
  EXPECT_EQ(Report(), "");

  // An ArkLedger directory that cannot be removed stops the deletion.
  component_.Install();
  WriteHostFile(Ledger(d1) / "pinned", "cannot go");
  WriteHostFile(Ledger(d2) / "x", "later snapshot stays");
  if (!SetImmutable(Ledger(d1) / "pinned", true)) {
    GTEST_SKIP() << "cannot set the immutable flag here (needs root and a file system that has it)";
  }
  const int result = Delete(1);
  SetImmutable(Ledger(d1) / "pinned", false);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(deleted_, 1);
  EXPECT_TRUE(Has(Said(), "ERROR: Could not remove snapshot sub directory: E:\\ledger\\srv1\\" + d1 + "\r\n"));
  EXPECT_FALSE(Has(Said(), "Removed snapshot sub directory"));
  EXPECT_EQ(fake().CallsStartingWith("Delete"), std::vector<std::string>{"Delete E " + d1});
  EXPECT_EQ(fake().Names(u'E'), (std::vector<std::string>{Recent("SRV1"), d2}));
  EXPECT_EQ(ReadHostFile(Ledger(d2) / "x"), "later snapshot stays");
  EXPECT_EQ(Report(), "");
}

}  // namespace ark
