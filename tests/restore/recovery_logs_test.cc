// The logs of an up-to-the-minute restore: which are needed, where each is
// found, the free-space rule and the copy into the active log directory.
#include <gtest/gtest.h>

#include <filesystem>

#include "backup/log_archive.h"
#include "platform/files.h"
#include "platform/text.h"
#include "restore/recovery_logs.h"
#include "restore/restore_hooks.h"
#include "tests/restore/fake_domino.h"
#include "tests/restore/restore_test_host.h"

namespace {

class RecoveryLogsTest : public ::testing::Test {
 protected:
  RecoveryLogsTest() : request(RestoreTestHost::MakeRequest(0)) {
    RestoreHostChecks checks;
    checks.freeDiskMegabytes = [this](const std::string& drive, std::uint32_t& megabytes) {
      ++freeSpaceQueries;
      queriedDrive = drive;
      megabytes = freeMegabytes;
      return freeSpaceKnown;
    };
    SetRestoreHostChecks(checks);
  }
  ~RecoveryLogsTest() override { ResetRestoreHostChecks(); }

  int Ensure() { return EnsureRecoveryLogs(request, copied, errorText); }
  std::string Active(const std::string& name) const { return host.Host("volumes/E/Logs/" + name); }

  RestoreTestHost host;
  FakeDomino domino;
  RestoreRequest request;
  std::vector<std::string> copied;
  std::string errorText;
  std::uint32_t freeMegabytes = 10000;
  bool freeSpaceKnown = true;
  int freeSpaceQueries = 0;
  std::string queriedDrive;
};

TEST_F(RecoveryLogsTest, CopiesTheSavedLogsFromTheFirstUpToTheCurrentOne) {
  host.WriteLogHint(40, kLogSeries);
  host.WriteSavedLog(40, "log forty");
  host.WriteSavedLog(41, "log forty-one");
  host.WriteSavedLog(42, "log forty-two (the current one, never copied)");
  domino.currentLog = 42;
  // A log drive that is none of the storage's disks: the free space is that
  // of the log directory's own drive.
  request.server.logVolume.driveLetter = 0;

  ASSERT_EQ(Ensure(), 0);
  EXPECT_EQ(request.output.accumulated,
            "Determining necessary logs for UP TO THE MINUTE RESTORE\r\n"
            "Snapshot Log Series : 0x0000000f\r\n"
            "Current Log Series : 0x0000000f\r\n"
            "First log needed for restore: S0000040.TXN\r\n"
            "Last log needed for restore: S0000042.TXN\r\n"
            "Verified all logs are available\r\nCopying logs to active log directory\r\n"
            "Active log drive has 10000 MB free.\r\n128 MB to copy to active log drive.\r\n"
            "Copying log file : S0000040.TXN\r\n"
            "Copying log file : S0000041.TXN\r\n");
  EXPECT_EQ(queriedDrive, "E");
  EXPECT_EQ(copied, (std::vector<std::string>{"E:\\Logs\\S0000040.TXN", "E:\\Logs\\S0000041.TXN"}));
  EXPECT_EQ(RestoreTestHost::ReadFile(Active("S0000040.TXN")), "log forty");
  EXPECT_EQ(RestoreTestHost::ReadFile(Active("S0000041.TXN")), "log forty-one");
  EXPECT_FALSE(RestoreTestHost::Exists(Active("S0000042.TXN")));

  EXPECT_EQ(RemoveCopiedLogs(request, copied), 0);
  EXPECT_FALSE(RestoreTestHost::Exists(Active("S0000040.TXN")));
  EXPECT_FALSE(RestoreTestHost::Exists(Active("S0000041.TXN")));
  EXPECT_TRUE(RestoreTestHost::Exists(host.Ledger("logs/S0000040.TXN")));
  // Removing again: the files are gone, which is not an error.
  request.output.accumulated.clear();
  EXPECT_EQ(RemoveCopiedLogs(request, copied), 0);
  EXPECT_EQ(request.output.accumulated, "");
}

TEST_F(RecoveryLogsTest, NeedsNoLogWhenTheFirstIsTheCurrentOrAboveIt) {
  // Equal: nothing searched, no space check, nothing copied.
  host.WriteLogHint(42, kLogSeries);
  domino.currentLog = 42;
  ASSERT_EQ(Ensure(), 0);
  EXPECT_EQ(request.output.accumulated,
            "Determining necessary logs for UP TO THE MINUTE RESTORE\r\n"
            "Snapshot Log Series : 0x0000000f\r\n"
            "Current Log Series : 0x0000000f\r\n"
            "No additional log files required for restore\r\n");
  EXPECT_EQ(freeSpaceQueries, 0);
  EXPECT_TRUE(copied.empty());

  // Above: no log searched, the space check runs with 0 MB and passes with 1 MB free.
  host.WriteLogHint(45, kLogSeries);
  request.output.accumulated.clear();
  freeMegabytes = 1;
  ASSERT_EQ(Ensure(), 0);
  EXPECT_NE(request.output.accumulated.find("Active log drive has 1 MB free.\r\n"
                                            "0 MB to copy to active log drive.\r\n"),
            std::string::npos);
  EXPECT_EQ(request.output.accumulated.find("Found log"), std::string::npos);
  EXPECT_EQ(request.output.accumulated.find("Copying log file"), std::string::npos);

  // ... and fails with nothing free.
  request.output.accumulated.clear();
  freeMegabytes = 0;
  EXPECT_EQ(Ensure(), -1);
  EXPECT_EQ(errorText,
            "ERROR: Active log directory needs an additional 0MB.\r\n"
            "Not enough free space on the active log drive.\r\n");
}

TEST_F(RecoveryLogsTest, HintOfZeroCountsAsLogOneAndIsFoundWhateverTheNameCase) {
  request.snapshot.name = platform::ToUpperAnsi(kSnapshotName);
  host.WriteLogHint(0, kLogSeries);
  domino.currentLog = 1;
  ASSERT_EQ(Ensure(), 0);
  EXPECT_NE(request.output.accumulated.find("No additional log files required"), std::string::npos);
}

TEST_F(RecoveryLogsTest, LogsInTheActiveDirectoryAreUsedInPlaceUnlessASavedCopyComesFirst) {
  host.WriteLogHint(40, kLogSeries);
  host.WriteSavedLog(40, "saved forty");
  host.WriteFile(Active("S0000040.TXN"), "active forty");
  host.WriteFile(Active("s0000041.txn"), "active forty-one");
  domino.currentLog = 42;

  ASSERT_EQ(Ensure(), 0);
  const std::string& out = request.output.accumulated;
  EXPECT_NE(out.find("Found log s0000041.TXN in active log directory.\r\n"), std::string::npos);
  // The saved copy of 40 is chosen (and counted) but the active file stays.
  EXPECT_NE(out.find("64 MB to copy to active log drive.\r\n"), std::string::npos);
  EXPECT_NE(out.find("E:\\Logs\\S0000040.TXN already exists in active log directory\r\n"),
            std::string::npos);
  EXPECT_TRUE(copied.empty());
  EXPECT_EQ(RestoreTestHost::ReadFile(Active("S0000040.TXN")), "active forty");
  RemoveCopiedLogs(request, copied);
  EXPECT_EQ(RestoreTestHost::ReadFile(Active("S0000040.TXN")), "active forty");
}

TEST_F(RecoveryLogsTest, OfTwoSavedCopiesTheFirstCandidateDecides) {
  const std::string snapA = "dominosnap__ARKHOST__srv1__01-02-2024_10.00.00";
  const std::string snapB = "dominosnap__ARKHOST__srv1__01-03-2024_10.00.00";
  host.WriteLogHint(40, kLogSeries);
  for (const std::string& snap : {snapA, snapB}) {
    host.WriteLogHint(39, kLogSeries, snap);
    host.WriteSavedLog(40, "copy in " + snap, snap);
  }
  domino.currentLog = 41;

  std::vector<std::string> candidates;
  FindTransactionLogs("L:\\ArkLedger\\srv1\\", candidates);
  ASSERT_EQ(candidates.size(), 2u);
  const std::string& first = candidates[0].find(snapA) != std::string::npos ? snapA : snapB;

  ASSERT_EQ(Ensure(), 0);
  EXPECT_EQ(RestoreTestHost::ReadFile(Active("S0000040.TXN")), "copy in " + first);
  EXPECT_EQ(copied.size(), 1u);

  // A first candidate of another series refuses, though a good one follows.
  std::filesystem::remove(Active("S0000040.TXN"));
  copied.clear();
  host.WriteLogHint(39, "deadbeef", first);
  EXPECT_EQ(Ensure(), -1);
  EXPECT_EQ(errorText,
            "ERROR: Found log S0000040.TXN\r\n"
            "However it does not match the current log series\r\n"
            "UP TO THE MINUTE restore is not possible\r\n");
  EXPECT_TRUE(copied.empty());
  EXPECT_FALSE(RestoreTestHost::Exists(Active("S0000040.TXN")));
}

TEST_F(RecoveryLogsTest, RefusesWithoutTouchingAnythingWhenRecoveryCannotSucceed) {
  domino.currentLog = 42;
  struct Case {
    const char* what;
    std::function<void()> setUp;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"no log hint", [] {},
       "ERROR: Could not open log hint file:\r\nL:\\ArkLedger\\srv1\\" + std::string(kSnapshotName) +
           "\\log_hint\r\n"},
      {"series mismatch", [&] { host.WriteLogHint(40, "12345678"); },
       "ERROR: The Log Series of the current transaction log (0x0000000f)\r\n"
       "Does not match the Snapshot Log Series (0x12345678)\r\n"
       "UP TO THE MINUTE restore is not possible\r\n"},
      {"missing log",
       [&] {
         host.WriteLogHint(40, kLogSeries);
         host.WriteSavedLog(40, "forty");
       },
       "ERROR: Could not find archive log file: S0000041.TXN\r\n"
       "Log is not located in Server's arkledger directory:\r\nL:\\ArkLedger\\srv1\\"},
      {"free space equal to the need",
       [&] {
         host.WriteSavedLog(41, "forty-one");
         freeMegabytes = 128;
       },
       "ERROR: Active log directory needs an additional 0MB.\r\n"
       "Not enough free space on the active log drive.\r\n"},
      {"free space unknown", [&] { freeSpaceKnown = false; },
       "ERROR: Could not determine the free space of the active log drive E:\r\n"
       "UP TO THE MINUTE restore is not possible\r\n"},
      {"no log directory", [&] { request.server.logDirectory.clear(); },
       "ERROR: The server's transaction log directory is not known.\r\n"
       "UP TO THE MINUTE restore is not possible\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.setUp();
    copied.clear();
    errorText.clear();
    request.output.accumulated.clear();
    EXPECT_EQ(Ensure(), -1);
    EXPECT_EQ(errorText, c.error);
    // Printed once, as the last message.
    const std::string& out = request.output.accumulated;
    ASSERT_GE(out.size(), c.error.size());
    EXPECT_EQ(out.substr(out.size() - c.error.size()), c.error);
    EXPECT_TRUE(copied.empty());
    EXPECT_TRUE(std::filesystem::is_empty(host.Host("volumes/E/Logs")));
  }
}

// A log that cannot be copied, or whose copy cannot be flushed to the disk
// before recovery reads it, stops the restore with the system's text; the
// unflushed copy does not stay.
TEST_F(RecoveryLogsTest, ACopyThatFailsStopsWithTheSystemText) {
  host.WriteLogHint(40, kLogSeries);
  host.WriteSavedLog(40, "forty");
  host.WriteSavedLog(41, "forty-one");
  domino.currentLog = 42;
  struct Case {
    const char* what;
    std::string logDirectory;
    std::string failingFlush;
    std::string failingLog;
    std::vector<std::string> copied;
  };
  const std::vector<Case> cases{
      {"no such directory", "E:\\NoSuchDirectory\\", "", "S0000040.TXN", {}},
      {"a copy that cannot be flushed", "E:\\Logs", "E:\\Logs\\S0000041.TXN", "S0000041.TXN",
       {"E:\\Logs\\S0000040.TXN"}},
      {"a log directory that cannot be flushed", "E:\\Logs", "E:\\Logs", "S0000040.TXN", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(host.Host("volumes/E/Logs"));
    std::filesystem::create_directories(host.Host("volumes/E/Logs"));
    request.server.logDirectory = c.logDirectory;
    copied.clear();
    platform::FlushOverride flushes(
        [&](const std::string& path) { return path == c.failingFlush ? ERROR_WRITE_FAULT : ERROR_SUCCESS; });
    EXPECT_EQ(Ensure(), -1);
    const std::string directory = c.logDirectory.back() == '\\' ? c.logDirectory : c.logDirectory + "\\";
    const std::string prefix = "ERROR: Could not copy log file: L:\\ArkLedger\\srv1\\" +
                               std::string(kSnapshotName) + "\\logs\\" + c.failingLog + " to:\r\n" +
                               directory + c.failingLog + "\r\n";
    ASSERT_EQ(errorText.substr(0, prefix.size()), prefix);
    EXPECT_GT(errorText.size(), prefix.size() + 2);  // the system's text follows
    EXPECT_EQ(errorText.substr(errorText.size() - 2), "\r\n");
    EXPECT_EQ(copied, c.copied);
    EXPECT_FALSE(RestoreTestHost::Exists(Active(c.failingLog)));
  }
}

}  // namespace
