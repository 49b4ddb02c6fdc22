// The logs of an up-to-the-minute restore: which are needed, where each is
// found, the free-space rule and the copy into the active log directory.
#include <filesystem>

#include "backup/log_archive.h"
#include "platform/files.h"
#include "restore/recovery_logs.h"
#include "tests/restore/restore_host.h"
#include "tests/support/fake_host_seam.h"
#include "tests/support/mock_domino_api.h"
#include "tests/support/text_checks.h"

using Names = std::vector<std::string>;

namespace {

class RecoveryLogsTest : public ::testing::Test {
 protected:
  RecoveryLogsTest() {
    seam_.freeDiskMegabytes = [this](const std::string&, std::uint32_t& megabytes) {
      megabytes = freeMegabytes;
      return freeSpaceKnown;
    };
    domino.currentLog = 42;
  }
  int Ensure() {
    copied.clear();
    errorText.clear();
    request.output.accumulated.clear();
    return EnsureRecoveryLogs(request, copied, errorText);
  }
  std::string Active(const std::string& name) const { return host.Drive('E', "Logs/" + name); }

  FakeHostSeam seam_;  // the free space of this test's host
  RestoreHost host;
  ::testing::NiceMock<IdleDominoApi> domino;
  RestoreRequest request = MakeRequest(0);
  Names copied;
  std::string errorText;
  std::uint32_t freeMegabytes = 10000;
  bool freeSpaceKnown = true;
};

TEST_F(RecoveryLogsTest, OfTwoSavedCopiesTheFirstCandidateDecides) {
  const std::string snapA = "dominosnap__ARKHOST__srv1__01-02-2024_10.00.00";
  const std::string snapB = "dominosnap__ARKHOST__srv1__01-03-2024_10.00.00";
  host.WriteLogHint(40, kLogSeries);
  for (const std::string& snap : {snapA, snapB}) {
    host.WriteLogHint(39, kLogSeries, snap);
    host.WriteSavedLog(40, "copy in " + snap, snap);
  }
  domino.currentLog = 41;
  Names candidates;
  FindTransactionLogs("L:\\ArkLedger\\srv1\\", candidates);
  ASSERT_EQ(candidates.size(), 2u);
  const std::string& first = Has(candidates[0], snapA) ? snapA : snapB;

  ASSERT_EQ(Ensure(), 0);
  EXPECT_EQ(ReadHostFile(Active("S0000040.TXN")), "copy in " + first);
  EXPECT_EQ(copied.size(), 1u);

  // A first candidate of another series refuses, though a good one follows.
  std::filesystem::remove(Active("S0000040.TXN"));
  host.WriteLogHint(39, "deadbeef", first);
  EXPECT_EQ(Ensure(), -1);
  EXPECT_EQ(errorText, "ERROR: Found log S0000040.TXN\r\nHowever it does not match the current log series\r\n"
                       "UP TO THE MINUTE restore is not possible\r\n");
  EXPECT_TRUE(copied.empty());
  EXPECT_FALSE(std::filesystem::exists(Active("S0000040.TXN")));
}

// Each row adds to the state the rows before it left.
TEST_F(RecoveryLogsTest, RefusesWithoutTouchingAnythingWhenRecoveryCannotSucceed) {
  const std::string impossible = "UP TO THE MINUTE restore is not possible\r\n";
  struct Case {
    std::function<void()> setUp;
    std::string error;
  };
  const std::vector<Case> cases = {
      {[] {}, "ERROR: Could not open log hint file:\r\nL:\\ArkLedger\\srv1\\" + std::string(kSnapshotName) + "\\log_hint\r\n"},
      {[&] { host.WriteLogHint(40, "12345678"); },
       "ERROR: The Log Series of the current transaction log (0x0000000f)\r\nDoes not match the Snapshot Log Series "
       "(0x12345678)\r\n" + impossible},
      {[&] { host.WriteLogHint(40, kLogSeries), domino.positionStatus = 0x0222; },
       "ERROR: Could not find the current transaction log: Domino status 0x0222\r\n" + impossible},
      {[&] { domino.positionStatus = ERR_NO_MORE_LOGS, host.WriteSavedLog(40, "forty"); },
       "ERROR: Could not find archive log file: S0000041.TXN\r\nLog is not located in Server's arkledger "
       "directory:\r\nL:\\ArkLedger\\srv1\\"},
      {[&] { host.WriteSavedLog(41, "forty-one"), freeMegabytes = 128; },  // free space equal to the need
       "ERROR: Active log directory needs an additional 0MB.\r\nNot enough free space on the active log drive.\r\n"},
      {[&] { freeSpaceKnown = false; },
       "ERROR: Could not determine the free space of the active log drive E:\r\n" + impossible},
      {[&] { request.server.logDirectory.clear(); },
       "ERROR: The server's transaction log directory is not known.\r\n" + impossible},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    c.setUp();
    EXPECT_EQ(Ensure(), -1);
    EXPECT_EQ(errorText, c.error);
    EXPECT_TRUE(request.output.accumulated.ends_with(c.error));  // printed once, as the last message
    EXPECT_TRUE(copied.empty());
    EXPECT_TRUE(std::filesystem::is_empty(host.Drive('E', "Logs")));
  }
}

// A log that cannot be copied, or whose copy cannot be flushed to the disk
// before recovery reads it, stops the restore with the system's text; the
// unflushed copy does not stay.
TEST_F(RecoveryLogsTest, ACopyThatFailsStopsWithTheSystemText) {
  host.WriteLogHint(40, kLogSeries);
  host.WriteSavedLog(40, "forty");
  host.WriteSavedLog(41, "forty-one");
  struct Case {
    std::string logDirectory, failingFlush, failingLog;
    Names copied;
  };
  const std::vector<Case> cases{
      {"E:\\NoSuchDirectory\\", "", "S0000040.TXN", {}},
      {"E:\\Logs", "E:\\Logs\\S0000041.TXN", "S0000041.TXN", {"E:\\Logs\\S0000040.TXN"}},
      {"E:\\Logs", "E:\\Logs", "S0000040.TXN", {}},  // the log directory cannot be flushed
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failingFlush);
    std::filesystem::remove_all(host.Drive('E', "Logs"));
    std::filesystem::create_directories(host.Drive('E', "Logs"));
    request.server.logDirectory = c.logDirectory;
    platform::FlushOverride flushes(
        [&](const std::string& path) { return path == c.failingFlush ? ERROR_WRITE_FAULT : ERROR_SUCCESS; });
    EXPECT_EQ(Ensure(), -1);
    const std::string directory = c.logDirectory.back() == '\\' ? c.logDirectory : c.logDirectory + "\\";
    const std::string prefix = "ERROR: Could not copy log file: L:\\ArkLedger\\srv1\\" + std::string(kSnapshotName) +
                               "\\logs\\" + c.failingLog + " to:\r\n" + directory + c.failingLog + "\r\n";
    ASSERT_EQ(errorText.substr(0, prefix.size()), prefix);
    EXPECT_GT(errorText.size(), prefix.size() + 2);  // the system's text follows
    EXPECT_TRUE(errorText.ends_with("\r\n"));
    EXPECT_EQ(copied, c.copied);
    EXPECT_FALSE(std::filesystem::exists(Active(c.failingLog)));
  }
}

}  // namespace
