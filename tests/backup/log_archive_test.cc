// Copying the finished transaction logs into the ArkLedger directory.
#include <gtest/gtest.h>

#include "backup/log_archive.h"
#include "platform/files.h"
#include "tests/backup/backup_host.h"
#include "tests/support/domino_doubles.h"

namespace {

const std::vector<FakeLog> kSevenAndEight{{7, "D:\\Logs\\S0000007.TXN"}, {8, "D:\\Logs\\S0000008.TXN"}};

class LogArchive : public ::testing::Test {
 protected:
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
    const int result = ledger.empty() ? ArchiveTransactionLogs(request_, nullptr, "L:\\s\\logs\\", archived)
                                      : CopyLogsToLedger(request_, server_, ledger);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Archiving logs in log dir: L:\\s\\logs\\\n");
    return result;
  }
  BackupHost host_;
  FakeDomino dom_;
  BackupRequest request_;
  DominoServerInfo server_;
};

TEST_F(LogArchive, CopiesEachLogUnderItsNumberThenMarksIt) {
  // No logs: said once, nothing created.
  EXPECT_EQ(Archive("L:\\s"), 0);
  EXPECT_EQ(request_.output.accumulated, "Domino reports no logs to archive\r\n");
  EXPECT_FALSE(host_.Exists('L', "s/logs"));
  EXPECT_EQ(dom_.calls, (std::vector<std::string>{"ArchiveBegin", "GetFirstArchiveLog", "ArchiveEnd"}));
  EXPECT_EQ(CopyLogsToLedger(request_, server_, ""), -1);

  // A backup archives the logs finished before it started (its log_hint
  // names the log it started in); a server that fills logs faster than they
  // can be copied cannot keep it archiving for ever.
  host_.Write('L', "s/log_hint", "8\r\n0000000f");
  dom_.logs = kSevenAndEight;
  request_.output.accumulated.clear();
  EXPECT_EQ(Archive("L:\\s\\"), 0);  // same destination with a trailing "\"
  EXPECT_EQ(host_.Read('L', "s/logs/S0000007.TXN"), "log seven");
  EXPECT_EQ(request_.output.accumulated, "Archiving D:\\Logs\\S0000007.TXN\r\n");
  EXPECT_EQ(dom_.marked, std::vector<DWORD>{7});
  EXPECT_FALSE(host_.Exists('L', "s/logs/S0000008.TXN"));
  EXPECT_FALSE(dom_.archiveOpen);
}

// A log whose copy is not on the disk, or that the runtime does not take as
// archived, ends the archiving after saying why: the logs before it stay
// archived, the session is ended, and no copy that might not hold the log
// is left behind. Runtime failures of the walk fail the archiving.
TEST_F(LogArchive, EveryFailureEndsTheSessionAndLeavesNoDoubtfulCopy) {
  const std::string writeFault = platform::FormatMessage(ERROR_WRITE_FAULT) + "\r\n";
  const std::string seven = "Archiving D:\\Logs\\S0000007.TXN\r\n";
  const std::vector<FakeLog> twoSevens{{7, "D:\\Logs\\S0000007.TXN"}, {7, "D:\\Logs\\other.TXN"}, {8, "D:\\Logs\\S0000008.TXN"}};
  const std::string twoSevensSaid = seven + "Archiving D:\\Logs\\other.TXN\r\nCould not copy D:\\Logs\\other.TXN\r\nThe file exists.\r\n";
  std::string failingFlush;  // the Windows path whose flush fails
  platform::FlushOverride flushes([&](const std::string& path) { return path == failingFlush ? ERROR_WRITE_FAULT : ERROR_SUCCESS; });
  struct Case {
    std::vector<FakeLog> logs;
    std::function<void()> arrange;
    int result;
    std::vector<DWORD> marked;
    std::string said;
    bool sevenKept = true;  // the copy of log 7 stays
  };
  const std::vector<Case> cases{
      {twoSevens, [] {}, 0, {7}, twoSevensSaid},  // a second log with the same number
      {twoSevens, [&] { dom_.archiveEndStatus = 0x0333; }, -1, {7}, twoSevensSaid},  // nor can the session end
      {kSevenAndEight, [&] { failingFlush = "L:\\s\\logs\\S0000008.TXN"; }, 0, {7},
       seven + "Archiving D:\\Logs\\S0000008.TXN\r\nCould not copy D:\\Logs\\S0000008.TXN\r\n" + writeFault},
      {kSevenAndEight, [&] { failingFlush = "L:\\s\\logs"; }, 0, {}, seven + "Could not copy D:\\Logs\\S0000007.TXN\r\n" + writeFault,
       false},
      {kSevenAndEight, [&] { dom_.failures = {{"MarkLogArchived", 0x0222}}; }, 0, {}, seven},  // stops silently
      {kSevenAndEight, [&] { dom_.failures = {{"GetNextArchiveLog", 0x0222}}; }, -1, {7}, seven},
      {kSevenAndEight, [&] { dom_.archiveBeginStatus = 0x4111; }, -1, {}, "ERROR: Domino error 0x0111\r\n", false},  // masked
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.said);
    std::filesystem::remove_all(host_.Drive('L', "s/logs"));
    dom_.logs = c.logs;
    dom_.marked.clear();
    dom_.failures.clear();
    dom_.archiveBeginStatus = dom_.archiveEndStatus = 0;
    failingFlush.clear();
    request_.output.accumulated.clear();
    c.arrange();
    EXPECT_EQ(Archive(), c.result);
    EXPECT_EQ(dom_.marked, c.marked);
    EXPECT_EQ(request_.output.accumulated, c.said);
    EXPECT_EQ(host_.Read('L', "s/logs/S0000007.TXN"), c.sevenKept ? "log seven" : "");
    EXPECT_FALSE(host_.Exists('L', "s/logs/S0000008.TXN"));
    EXPECT_FALSE(dom_.archiveOpen);
  }
  EXPECT_EQ(Archive("L:\\s"), 0);  // a failed archiving never fails the backup

  // A runtime that throws mid-walk still has its session ended.
  dom_.archiveBeginStatus = 0;
  dom_.throws.insert("MarkLogArchived");
  EXPECT_ANY_THROW(Archive());
  testing::internal::GetCapturedStdout();
  EXPECT_FALSE(dom_.archiveOpen);
}

}  // namespace
