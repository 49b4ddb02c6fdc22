// Copying the finished transaction logs into the ArkLedger directory.
#include <gtest/gtest.h>

#include "backup/log_archive.h"
#include "tests/support/domino_doubles.h"
#include "platform/files.h"
#include "tests/backup/backup_host.h"

namespace {

class LogArchive : public ::testing::Test {
 protected:
  void SetUp() override {
    host_.Write('D', "Logs/S0000007.TXN", "log seven");
    host_.Write('D', "Logs/S0000008.TXN", std::string(300000, 'e'));
    host_.Write('D', "Logs/other.TXN", "another log numbered seven");
    std::filesystem::create_directories(host_.Drive('L', "s"));
  }
  // Runs the archiving into L:\s\logs\; its result (the printed line is checked).
  int Archive(std::vector<DWORD>& archived) {
    return Printing([&] { return ArchiveTransactionLogs(request_, nullptr, "L:\\s\\logs\\", archived); });
  }
  // Copies into the ledger folder given (always L:\s\logs\ in the end).
  int Copy(const std::string& ledger) {
    return Printing([&] { return CopyLogsToLedger(request_, server_, ledger); });
  }
  template <typename F>
  int Printing(F run) {
    testing::internal::CaptureStdout();
    int result = run();
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
  EXPECT_EQ(Copy("L:\\s"), 0);
  EXPECT_EQ(request_.output.accumulated, "Domino reports no logs to archive\r\n");
  EXPECT_FALSE(host_.Exists('L', "s/logs"));
  EXPECT_EQ(dom_.calls, (std::vector<std::string>{"ArchiveBegin", "GetFirstArchiveLog", "ArchiveEnd"}));
  EXPECT_EQ(CopyLogsToLedger(request_, server_, ""), -1);

  request_.output.accumulated.clear();
  dom_.calls.clear();
  dom_.logs = {{7, "D:\\Logs\\S0000007.TXN"}, {12345678, "D:\\Logs\\S0000008.TXN"}};
  EXPECT_EQ(Copy("L:\\s\\"), 0);  // same destination with a trailing "\"
  EXPECT_EQ(host_.Read('L', "s/logs/S0000007.TXN"), "log seven");
  EXPECT_EQ(host_.Read('L', "s/logs/S12345678.TXN"), std::string(300000, 'e'));  // all digits
  EXPECT_EQ(request_.output.accumulated,
            "Archiving D:\\Logs\\S0000007.TXN\r\nArchiving D:\\Logs\\S0000008.TXN\r\n");
  EXPECT_EQ(dom_.marked, (std::vector<DWORD>{7, 12345678}));
  EXPECT_EQ(dom_.Count("ArchiveEnd"), 1);

  // A backup archives the logs finished before it started (its log_hint
  // names the log it started in); a server that fills logs faster than they
  // can be copied cannot keep it archiving for ever.
  std::filesystem::remove_all(host_.Drive('L', "s/logs"));
  host_.Write('L', "s/log_hint", "8\r\n0000000f");
  dom_.logs = {{7, "D:\\Logs\\S0000007.TXN"}, {8, "D:\\Logs\\S0000008.TXN"}};
  dom_.marked.clear();
  EXPECT_EQ(Copy("L:\\s"), 0);
  EXPECT_EQ(dom_.marked, std::vector<DWORD>{7});
  EXPECT_FALSE(host_.Exists('L', "s/logs/S0000008.TXN"));
  EXPECT_FALSE(dom_.archiveOpen);
}

// A log whose copy is not on the disk is not marked archived: the archiving
// stops after saying why, the logs before it stay archived, and no copy
// that might not hold the log is left behind.
TEST_F(LogArchive, ALogWhoseCopyFailsStopsTheArchivingAndStaysUnarchived) {
  const std::string writeFault = platform::FormatMessage(ERROR_WRITE_FAULT) + "\r\n";
  struct Case {
    const char* what;
    std::vector<FakeLog> logs;
    std::string failingFlush;  // the Windows path whose flush fails
    std::vector<DWORD> marked;
    std::string said;
  };
  const std::vector<Case> cases{
      {"a second log with the same number",
       {{7, "D:\\Logs\\S0000007.TXN"}, {7, "D:\\Logs\\other.TXN"}, {8, "D:\\Logs\\S0000008.TXN"}},
       "",
       {7},
       "Archiving D:\\Logs\\S0000007.TXN\r\nArchiving D:\\Logs\\other.TXN\r\n"
       "Could not copy D:\\Logs\\other.TXN\r\nThe file exists.\r\n"},
      {"a copy that cannot be flushed",
       {{7, "D:\\Logs\\S0000007.TXN"}, {8, "D:\\Logs\\S0000008.TXN"}},
       "L:\\s\\logs\\S0000008.TXN",
       {7},
       "Archiving D:\\Logs\\S0000007.TXN\r\nArchiving D:\\Logs\\S0000008.TXN\r\n"
       "Could not copy D:\\Logs\\S0000008.TXN\r\n" + writeFault},
      {"a logs folder that cannot be flushed",
       {{7, "D:\\Logs\\S0000007.TXN"}, {8, "D:\\Logs\\S0000008.TXN"}},
       "L:\\s\\logs",
       {},
       "Archiving D:\\Logs\\S0000007.TXN\r\nCould not copy D:\\Logs\\S0000007.TXN\r\n" + writeFault},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(host_.Drive('L', "s/logs"));
    dom_.logs = c.logs;
    dom_.marked.clear();
    dom_.calls.clear();
    platform::FlushOverride flushes([&](const std::string& path) {
      return path == c.failingFlush ? ERROR_WRITE_FAULT : ERROR_SUCCESS;
    });
    request_.output.accumulated.clear();
    std::vector<DWORD> archived;
    EXPECT_EQ(Archive(archived), 0);
    EXPECT_EQ(dom_.marked, c.marked);
    EXPECT_EQ(request_.output.accumulated, c.said);
    EXPECT_EQ(host_.Read('L', "s/logs/S0000007.TXN"), c.marked.empty() ? "" : "log seven");
    EXPECT_FALSE(host_.Exists('L', "s/logs/S0000008.TXN"));
    EXPECT_EQ(dom_.Count("ArchiveEnd"), 1);
  }

  // When the session cannot be ended either, the result says so.
  dom_.logs = cases[0].logs;
  dom_.archiveEndStatus = 0x0333;
  std::filesystem::remove_all(host_.Drive('L', "s/logs"));
  std::vector<DWORD> archived;
  EXPECT_EQ(Archive(archived), -1);
}

TEST_F(LogArchive, RuntimeFailuresEndTheSession) {
  dom_.logs = {{7, "D:\\Logs\\S0000007.TXN"}, {8, "D:\\Logs\\S0000008.TXN"}};
  std::vector<DWORD> archived;
  dom_.archiveBeginStatus = 0x4111;  // nothing copied, the text masked with 0x3FFF
  EXPECT_EQ(Archive(archived), -1);
  EXPECT_EQ(request_.output.accumulated, "ERROR: Domino error 0x0111\r\n");
  EXPECT_EQ(dom_.calls, std::vector<std::string>{"ArchiveBegin"});
  EXPECT_EQ(Copy("L:\\s"), 0);  // never fails the backup

  dom_.archiveBeginStatus = 0;
  dom_.failures["GetNextArchiveLog"] = 0x0222;
  EXPECT_EQ(Archive(archived), -1);
  EXPECT_EQ(dom_.marked, std::vector<DWORD>{7});
  EXPECT_FALSE(dom_.archiveOpen);

  // A log that cannot be marked stops the walk silently.
  std::filesystem::remove_all(host_.Drive('L', "s/logs"));
  dom_.failures = {{"MarkLogArchived", 0x0222}};
  request_.output.accumulated.clear();
  EXPECT_EQ(Archive(archived), 0);
  EXPECT_EQ(request_.output.accumulated, "Archiving D:\\Logs\\S0000007.TXN\r\n");
  EXPECT_FALSE(dom_.archiveOpen);

  // A runtime that throws mid-walk still has its session ended.
  std::filesystem::remove_all(host_.Drive('L', "s/logs"));
  dom_.failures.clear();
  dom_.throws.insert("MarkLogArchived");
  testing::internal::CaptureStdout();
  EXPECT_ANY_THROW(ArchiveTransactionLogs(request_, nullptr, "L:\\s\\logs\\", archived));
  testing::internal::GetCapturedStdout();
  EXPECT_FALSE(dom_.archiveOpen);
}

}  // namespace
