// Copying the finished transaction logs into the ArkLedger directory.
#include <gtest/gtest.h>

#include "backup/log_archive.h"
#include "fake_domino.h"
#include "test_host.h"

namespace {

class LogArchive : public ::testing::Test {
 protected:
  void SetUp() override {
    host_.WriteFile("volumes/D/Logs/S0000007.TXN", "log seven");
    host_.WriteFile("volumes/D/Logs/S0000008.TXN", std::string(300000, 'e'));
    host_.WriteFile("volumes/D/Logs/other.TXN", "another log numbered seven");
    for (const char* ledger : {"s", "s2", "s3"})
      std::filesystem::create_directories(host_.Host(std::string("volumes/L/ArkLedger/") + ledger));
  }
  FakeLog Log(DWORD number, const std::string& file) {
    FakeLog log;
    log.number = number;
    log.path = "D:\\Logs\\" + file;
    log.logId[0] = BYTE(number);
    return log;
  }
  TestHost host_;
  FakeDomino dom_;
  BackupRequest request_;
  DominoServerInfo server_;
};

TEST_F(LogArchive, NoLogsSaysSoOnceAndCreatesNothing) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(CopyLogsToLedger(request_, server_, "L:\\ArkLedger\\s"), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Archiving logs in log dir: L:\\ArkLedger\\s\\logs\\\n");
  EXPECT_EQ(request_.output.accumulated, "Domino reports no logs to archive\r\n");
  EXPECT_FALSE(host_.Exists("volumes/L/ArkLedger/s/logs"));
  EXPECT_EQ(dom_.calls, (std::vector<std::string>{"ArchiveBegin", "GetFirstArchiveLog", "ArchiveEnd"}));
  EXPECT_EQ(CopyLogsToLedger(request_, server_, ""), -1);
}

TEST_F(LogArchive, CopiesEachLogUnderItsNumberThenMarksIt) {
  dom_.logs = {Log(7, "S0000007.TXN"), Log(8, "S0000008.TXN")};
  // With and without a trailing backslash the destination is the same.
  testing::internal::CaptureStdout();
  EXPECT_EQ(CopyLogsToLedger(request_, server_, "L:\\ArkLedger\\s\\"), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Archiving logs in log dir: L:\\ArkLedger\\s\\logs\\\n");
  EXPECT_EQ(host_.ReadFile("volumes/L/ArkLedger/s/logs/S0000007.TXN"), "log seven");
  EXPECT_EQ(host_.ReadFile("volumes/L/ArkLedger/s/logs/S0000008.TXN"), std::string(300000, 'e'));
  EXPECT_EQ(request_.output.accumulated,
            "Archiving D:\\Logs\\S0000007.TXN\r\nArchiving D:\\Logs\\S0000008.TXN\r\n");
  EXPECT_EQ(dom_.marked, (std::vector<DWORD>{7, 8}));
  EXPECT_EQ(dom_.Count("ArchiveEnd"), 1);
  EXPECT_FALSE(dom_.archiveOpen);
}

TEST_F(LogArchive, ASecondLogWithTheSameNumberStopsTheArchivingAndStaysUnarchived) {
  dom_.logs = {Log(7, "S0000007.TXN"), Log(7, "other.TXN"), Log(8, "S0000008.TXN")};
  std::vector<DWORD> archived;
  testing::internal::CaptureStdout();
  EXPECT_EQ(ArchiveTransactionLogs(request_, nullptr, "L:\\ArkLedger\\s\\logs\\", archived), 0);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(archived, (std::vector<DWORD>{7, 7}));
  EXPECT_EQ(dom_.marked, (std::vector<DWORD>{7}));
  EXPECT_EQ(host_.ReadFile("volumes/L/ArkLedger/s/logs/S0000007.TXN"), "log seven");  // not overwritten
  EXPECT_FALSE(host_.Exists("volumes/L/ArkLedger/s/logs/S0000008.TXN"));
  EXPECT_EQ(request_.output.accumulated,
            "Archiving D:\\Logs\\S0000007.TXN\r\nArchiving D:\\Logs\\other.TXN\r\n"
            "Could not copy D:\\Logs\\other.TXN\r\n");
  EXPECT_EQ(dom_.Count("ArchiveEnd"), 1);

  // The same when ending the session fails: the result says so.
  FakeDomino dom;
  dom.logs = dom_.logs;
  dom.archiveEndStatus = 0x0333;
  BackupRequest request;
  std::vector<DWORD> again;
  testing::internal::CaptureStdout();
  EXPECT_EQ(ArchiveTransactionLogs(request, nullptr, "L:\\ArkLedger\\s\\logs\\", again), -1);
  testing::internal::GetCapturedStdout();
}

TEST_F(LogArchive, NumbersOfEightDigitsKeepAllTheirDigits) {
  dom_.logs = {Log(12345678, "S0000007.TXN"), Log(123, "S0000008.TXN")};
  std::vector<DWORD> archived;
  testing::internal::CaptureStdout();
  EXPECT_EQ(ArchiveTransactionLogs(request_, nullptr, "L:\\ArkLedger\\s\\logs\\", archived), 0);
  testing::internal::GetCapturedStdout();
  EXPECT_TRUE(host_.Exists("volumes/L/ArkLedger/s/logs/S12345678.TXN"));
  EXPECT_TRUE(host_.Exists("volumes/L/ArkLedger/s/logs/S0000123.TXN"));
}

TEST_F(LogArchive, RuntimeFailuresEndTheSession) {
  {
    FakeDomino dom;
    dom.archiveBeginStatus = 0x4111;
    BackupRequest request;
    std::vector<DWORD> archived;
    EXPECT_EQ(ArchiveTransactionLogs(request, nullptr, "L:\\ArkLedger\\s\\logs\\", archived), -1);
    EXPECT_EQ(request.output.accumulated, "ERROR: Domino error 0x0111\r\n");
    EXPECT_EQ(dom.calls, std::vector<std::string>{"ArchiveBegin"});
    // Failing to begin does not fail the backup.
    EXPECT_EQ(CopyLogsToLedger(request, server_, "L:\\ArkLedger\\s"), 0);
  }
  {
    FakeDomino dom;
    dom.logs = {Log(7, "S0000007.TXN"), Log(8, "S0000008.TXN")};
    dom.failures["GetNextArchiveLog"] = 0x0222;
    BackupRequest request;
    std::vector<DWORD> archived;
    EXPECT_EQ(ArchiveTransactionLogs(request, nullptr, "L:\\ArkLedger\\s\\logs\\", archived), -1);
    EXPECT_EQ(dom.marked, std::vector<DWORD>{7});
    EXPECT_FALSE(dom.archiveOpen);
  }
  {
    FakeDomino dom;
    dom.logs = {Log(7, "S0000007.TXN"), Log(8, "S0000008.TXN")};
    dom.failures["MarkLogArchived"] = 0x0222;
    BackupRequest request;
    std::vector<DWORD> archived;
    EXPECT_EQ(ArchiveTransactionLogs(request, nullptr, "L:\\ArkLedger\\s2\\logs\\", archived), 0);
    EXPECT_EQ(archived, std::vector<DWORD>{7});
    EXPECT_EQ(dom.Count("ArchiveEnd"), 1);
    EXPECT_EQ(request.output.accumulated, "Archiving D:\\Logs\\S0000007.TXN\r\n");
  }
  {
    // A runtime that throws mid-walk still has its session ended.
    FakeDomino dom;
    dom.logs = {Log(7, "S0000007.TXN")};
    dom.throws.insert("MarkLogArchived");
    BackupRequest request;
    std::vector<DWORD> archived;
    EXPECT_ANY_THROW(ArchiveTransactionLogs(request, nullptr, "L:\\ArkLedger\\s3\\logs\\", archived));
    EXPECT_FALSE(dom.archiveOpen);
  }
}

}  // namespace
