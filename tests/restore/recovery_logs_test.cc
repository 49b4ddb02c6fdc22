// The logs of an up-to-the-minute restore: which are needed, where each is
// found, the free-space rule and the copy into the active log directory.
#include <filesystem>

#include "ledger/log_files.h"
#include "platform/files.h"
#include "restore/recovery_logs.h"
#include "tests/restore/restore_host.h"
#include "tests/support/fake_host_seam.h"
#include "tests/support/text_checks.h"

namespace ark {

namespace {

const std::string kImpossible = "UP TO THE MINUTE restore is not possible\r\n";
const std::string kCopy = "ERROR: Could not copy log file: " + kLedger + "\\logs\\";
std::string SystemText(DWORD error) { return platform::FormatMessage(error) + "\r\n"; }

class RecoveryLogsTest;
struct Refusal {  // a recovery that cannot succeed
  const char* name;
  std::function<void(RecoveryLogsTest&)> arrange;
  std::string error;
  Names copied = {};  // made before it stopped; the caller removes them
};
void PrintTo(const Refusal& row, std::ostream* os) { *os << row.name; }

class RecoveryLogsTest : public ::testing::TestWithParam<Refusal> {
 public:
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
    return EnsureRecoveryLogs(request, copied, errorText);
  }
  std::string Active(const std::string& name) const { return host.Drive('E', "Logs/" + name); }

  FakeHostSeam seam_;  // the free space of this test's host
  RestoreHost host;
  ::testing::NiceMock<IdleDominoApi> domino;
  RestoreRequest request = MakeRequest(0);
  Names copied;
  std::string errorText, failingFlush;  // failingFlush: the Windows path whose flush fails
  platform::FlushOverride flushes{
      [this](const std::string& path) { return path == failingFlush ? ERROR_WRITE_FAULT : ERROR_SUCCESS; }};
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

const Refusal kRefusals[] = {
    {"NoLogHint", [](auto&) {},
     "ERROR: Could not open log hint file:\r\n" + kLedger + "\\log_hint\r\n"},
    {"OtherSeries", [](auto& t) { t.host.WriteLogHint(40, "12345678"); },
     "ERROR: The Log Series of the current transaction log (0x0000000f)\r\nDoes not match the Snapshot Log Series "
     "(0x12345678)\r\n" + kImpossible},
    {"NoCurrentLog", [](auto& t) { t.host.WriteLogHint(40, kLogSeries), t.domino.positionStatus = 0x0222; },
     "ERROR: Could not find the current transaction log: Domino status 0x0222\r\n" + kImpossible},
    {"SavedLogMissing", [](auto& t) { t.host.SavedLogs(), std::filesystem::remove(t.host.Ledger("logs/S0000041.TXN")); },
     "ERROR: Could not find archive log file: S0000041.TXN\r\nLog is not located in Server's arkledger "
     "directory:\r\nL:\\ArkLedger\\srv1\\"},
    {"NoRoom", [](auto& t) { t.host.SavedLogs(), t.freeMegabytes = 128; },  // free space equal to the need
     "ERROR: Active log directory needs an additional 0MB.\r\nNot enough free space on the active log drive.\r\n"},
    {"FreeSpaceUnknown", [](auto& t) { t.host.SavedLogs(), t.freeSpaceKnown = false; },
     "ERROR: Could not determine the free space of the active log drive E:\r\n" + kImpossible},
    {"NoLogDirectory", [](auto& t) { t.host.SavedLogs(), t.request.server.logDirectory.clear(); },
     "ERROR: The server's transaction log directory is not known.\r\n" + kImpossible},
    // A log that cannot be copied, or whose copy cannot be flushed to the
    // disk before recovery reads it: the system's text; the copy does not stay.
    {"NoSuchDirectory", [](auto& t) { t.host.SavedLogs(), t.request.server.logDirectory = "E:\\NoSuchDirectory\\"; },
     kCopy + "S0000040.TXN to:\r\nE:\\NoSuchDirectory\\S0000040.TXN\r\n" + SystemText(ERROR_PATH_NOT_FOUND)},
    {"LogNotFlushed", [](auto& t) { t.host.SavedLogs(), t.failingFlush = "E:\\Logs\\S0000041.TXN"; },
     kCopy + "S0000041.TXN to:\r\nE:\\Logs\\S0000041.TXN\r\n" + SystemText(ERROR_WRITE_FAULT)},
    {"DirectoryNotFlushed", [](auto& t) { t.host.SavedLogs(), t.failingFlush = "E:\\Logs"; },
     kCopy + "S0000040.TXN to:\r\nE:\\Logs\\S0000040.TXN\r\n" + SystemText(ERROR_WRITE_FAULT)},
};

TEST_P(RecoveryLogsTest, RefusesWithoutTouchingAnythingWhenRecoveryCannotSucceed) {
  GetParam().arrange(*this);
  EXPECT_EQ(Ensure(), -1);
  EXPECT_EQ(errorText, GetParam().error);
  EXPECT_TRUE(request.output.accumulated.ends_with(errorText));  // printed once, as the last message
  EXPECT_EQ(copied, GetParam().copied);
  Names active;  // the active log directory holds the copies reported, nothing else
  for (const auto& e : std::filesystem::directory_iterator(Active(""))) {
    active.push_back("E:\\Logs\\" + e.path().filename().string());
  }
  EXPECT_EQ(active, GetParam().copied);
}
INSTANTIATE_TEST_SUITE_P(Rows, RecoveryLogsTest, ::testing::ValuesIn(kRefusals));

}  // namespace

}  // namespace ark
