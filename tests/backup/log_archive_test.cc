// Copying the finished transaction logs into the ArkLedger directory.
#include <gtest/gtest.h>

#include "backup/log_archive.h"
#include "platform/files.h"
#include "tests/backup/backup_host.h"
#include "tests/support/domino_doubles.h"

namespace ark {

namespace {

const std::vector<FakeLog> kSevenAndEight{{7, "D:\\Logs\\S0000007.TXN"}, {8, "D:\\Logs\\S0000008.TXN"}};

class LogArchive;
struct Failure {
  const char* name;
  std::function<void(LogArchive&)> arrange;  // the runtime lists logs 7 and 8 unless it says otherwise
  int result;
  std::vector<DWORD> marked;
  std::string said;
  bool sevenKept = true;  // the copy of log 7 stays
  bool throws = false;
};
void PrintTo(const Failure& row, std::ostream* os) { *os << row.name; }

class LogArchive : public ::testing::TestWithParam<Failure> {
 public:
  void SetUp() override {
    host_.Write('D', "Logs/S0000007.TXN", "log seven");
    host_.Write('D', "Logs/S0000008.TXN", std::string(300000, 'e'));
    host_.Write('D', "Logs/other.TXN", "another log numbered seven");
    std::filesystem::create_directories(host_.Drive('L', "s"));
  }
  // Runs the archiving into L:\s\logs\ (directly, or through the copy into
  // the ledger folder given); its result. The printed line is checked.
  int Archive(const std::string& ledger = "") {
    testing::internal::CaptureStdout();
    std::vector<DWORD> archived;
    const int result = ledger.empty() ? ArchiveTransactionLogs(request_, "L:\\s\\logs\\", archived)
                                      : CopyLogsToLedger(request_, ledger);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Archiving logs in log dir: L:\\s\\logs\\\n");
    return result;
  }
  BackupHost host_;
  FakeDomino dom_;
  BackupRequest request_;
  std::string failingFlush_;  // the Windows path whose flush fails
  platform::FlushOverride flushes_{
      [this](const std::string& path) { return path == failingFlush_ ? ERROR_WRITE_FAULT : ERROR_SUCCESS; }};
};

TEST_F(LogArchive, CopiesEachLogUnderItsNumberThenMarksIt) {
  EXPECT_EQ(CopyLogsToLedger(request_, ""), -1);

  // A backup archives the logs finished before it started (its log_hint
  // names the log it started in); a server that fills logs faster than they
  // can be copied cannot keep it archiving for ever.
  host_.Write('L', "s/log_hint", "8\r\n0000000f");
  dom_.logs = kSevenAndEight;
  EXPECT_EQ(Archive("L:\\s\\"), 0);  // same destination with a trailing "\"
  EXPECT_EQ(host_.Read('L', "s/logs/S0000007.TXN"), "log seven");
  EXPECT_EQ(request_.output.accumulated, "Archiving D:\\Logs\\S0000007.TXN\r\n");
  EXPECT_EQ(dom_.marked, std::vector<DWORD>{7});
  EXPECT_FALSE(host_.Exists('L', "s/logs/S0000008.TXN"));
  EXPECT_FALSE(dom_.archiveOpen);
  dom_.archiveBeginStatus = 0x4111;
  EXPECT_EQ(Archive("L:\\s"), 0);  // a failed archiving never fails the backup
}

const std::string kWriteFault = platform::FormatMessage(ERROR_WRITE_FAULT) + "\r\n";
const std::string kSeven = "Archiving D:\\Logs\\S0000007.TXN\r\n";
const std::string kSevenEight = kSeven + "Archiving D:\\Logs\\S0000008.TXN\r\n";
const std::vector<FakeLog> kTwoSevens{
    {7, "D:\\Logs\\S0000007.TXN"}, {7, "D:\\Logs\\other.TXN"}, {8, "D:\\Logs\\S0000008.TXN"}};
const std::string kTwoSevensSaid =
    kSeven + "Archiving D:\\Logs\\other.TXN\r\nCould not copy D:\\Logs\\other.TXN\r\nThe file exists.\r\n";
const Failure kFailures[] = {
    {"SameNumberTwice", [](auto& t) { t.dom_.logs = kTwoSevens; }, 0, {7}, kTwoSevensSaid},
    {"NorEnds", [](auto& t) { t.dom_.logs = kTwoSevens, t.dom_.archiveEndStatus = 0x0333; }, -1, {7}, kTwoSevensSaid},
    // The copies are flushed together before any log is marked: a flush
    // that fails marks none and leaves no copy.
    {"CopyNotFlushed", [](auto& t) { t.failingFlush_ = "L:\\s\\logs\\S0000008.TXN"; }, 0, {},
     kSevenEight + "Could not copy D:\\Logs\\S0000008.TXN\r\n" + kWriteFault, false},
    {"FolderNotFlushed", [](auto& t) { t.failingFlush_ = "L:\\s\\logs"; }, 0, {},
     kSevenEight + "Could not copy D:\\Logs\\S0000007.TXN\r\n" + kWriteFault, false},
    {"MarkFails", [](auto& t) { t.dom_.failures = {{"MarkLogArchived", 0x0222}}; }, 0, {}, kSevenEight},
    {"NextFails", [](auto& t) { t.dom_.failures = {{"GetNextArchiveLog", 0x0222}}; }, -1, {7}, kSeven},
    {"BeginFails", [](auto& t) { t.dom_.archiveBeginStatus = 0x4111; }, -1, {},
     "ERROR: Domino error 0x0111\r\n", false},  // masked
    {"MarkThrows", [](auto& t) { t.dom_.throws.insert("MarkLogArchived"); }, 0, {}, kSevenEight, true, true},
    {"NoLogs", [](auto& t) { t.dom_.logs.clear(); }, 0, {}, "Domino reports no logs to archive\r\n", false},
};

// A log whose copy is not on the disk, or that the runtime does not take as
// archived, ends the archiving after saying why (a refused mark silently):
// the logs before it stay archived, the session is ended, and no copy that
// might not hold the log is left behind. Runtime failures of the walk fail
// the archiving; a runtime that throws still has its session ended.
TEST_P(LogArchive, EveryFailureEndsTheSessionAndLeavesNoDoubtfulCopy) {
  const Failure& c = GetParam();
  dom_.logs = kSevenAndEight;
  c.arrange(*this);
  if (c.throws) {
    EXPECT_ANY_THROW(Archive());
    testing::internal::GetCapturedStdout();
  } else {
    EXPECT_EQ(Archive(), c.result);
  }
  EXPECT_EQ(dom_.marked, c.marked);
  EXPECT_EQ(request_.output.accumulated, c.said);
  EXPECT_EQ(host_.Read('L', "s/logs/S0000007.TXN"), c.sevenKept ? "log seven" : "");
  EXPECT_FALSE(host_.Exists('L', "s/logs/S0000008.TXN"));
  EXPECT_FALSE(dom_.archiveOpen);
}
INSTANTIATE_TEST_SUITE_P(Rows, LogArchive, ::testing::ValuesIn(kFailures));

}  // namespace

}  // namespace ark
