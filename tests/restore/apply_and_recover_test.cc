// Applying change information (the damaged or failing cases; the whole-host
// restores check the data it brings back bit for bit) and Domino
// recovery (the recovery list and its packing, the retry rule, the
// point-in-time treatment and the archived-log call-back).
#include <gtest/gtest.h>

#include "restore/archived_log_callback.h"
#include "restore/change_info_apply.h"
#include "restore/domino_recovery.h"
#include "tests/restore/restore_host.h"
#include "tests/support/domino_doubles.h"

namespace ark {

using ::testing::_;

namespace {

class ChangeInfoApplyTest;
struct ApplyFailure {  // of a.nsf's change information; b.nsf's would follow
  const char* name;
  std::function<void(ChangeInfoApplyTest&)> arrange;
  std::string said;  // the whole output, or its start
  std::size_t starts, blocks, ends;
};
void PrintTo(const ApplyFailure& row, std::ostream* os) { *os << row.name; }

// The runtime records each file's start (target and size words), blocks
// and end, and fails the step the test names.
class ChangeInfoApplyTest : public ::testing::TestWithParam<ApplyFailure> {
 public:
  ChangeInfoApplyTest() {
    ON_CALL(domino, ApplyChangeInfoStart(_, _, _, _, _))
        .WillByDefault([this](DWORD* context, const char* target, DWORD zero, DWORD low, DWORD high) {
          EXPECT_EQ(zero, 0u);
          *context = DWORD(100 + starts.size());
          starts.push_back(std::string(target) + " " + std::to_string(low) + " " + std::to_string(high));
          return startStatus;
        });
    ON_CALL(domino, ApplyChangeInfo(_, _, _, _)).WillByDefault([this](DWORD, DWORD, const void*, DWORD length) {
      blocks.push_back(length);
      return blocks.size() == failBlock ? STATUS(0x0222) : STATUS(0);
    });
    ON_CALL(domino, ApplyChangeInfoEnd(_, _)).WillByDefault([this](DWORD context, DWORD) {
      ends.push_back(context);
      return endStatus;
    });
    // Each file begins with its size, two 32-bit words, low word first.
    WriteHostFile(host.Ledger("Domino/Data/a.nsf.dat"), std::string("\x40\x9c\0\0\0\0\0\0", 8).append(40000, 'a'));
    WriteHostFile(host.Ledger("Domino/Data/b.nsf.dat"), std::string("\x03\0\0\0\0\0\0\0xyz", 11));
  }

  RestoreHost host;
  ::testing::NiceMock<IdleDominoApi> domino;
  RestoreRequest request = MakeRequest(1);
  std::vector<std::string> starts;
  std::vector<DWORD> blocks, ends;
  STATUS startStatus = 0, endStatus = 0;
  std::size_t failBlock = 0;  // 1-based; 0: none fails
};

const std::string kWhere = " D:\\Domino\\Data\\a.nsf from the change information file:\r\n" + kLedger +
                           "\\Domino\\Data\\a.nsf.dat\r\n";
const ApplyFailure kApplyFailures[] = {
    {"StartFails", [](auto& t) { t.startStatus = 0x0111; },
     "ERROR: Could not activate 'apply change info mode' to restored database: " + kWhere + "Domino status 0x0111",
     1, 0, 0},
    {"BlockFails", [](auto& t) { t.failBlock = 2; },
     "ERROR: Cannot apply change information to restore database: " + kWhere + "Domino status 0x0222", 1, 2, 0},
    {"EndFails", [](auto& t) { t.endStatus = 0x0333; },
     "Applied 40000 bytes to D:\\Domino\\Data\\a.nsf\r\nERROR: Cannot end the application of change information to "
     "restore database: " + kWhere + "Domino status 0x0333", 1, 2, 1},
    // Shorter than its header: the runtime never sees it, nor the next file.
    {"ShorterThanHeader",
     [](auto& t) { WriteHostFile(t.host.Ledger("Domino/Data/a.nsf.dat"), std::string("\x05\0\0\0\0", 5)); },
     "ERROR: Change information file is damaged (shorter than its 8-byte header): " + kLedger +
         "\\Domino\\Data\\a.nsf.dat\r\n", 0, 0, 0},
    // A directory where the file should be: there, but unreadable as a file.
    {"Unreadable", [](auto& t) { std::filesystem::remove(t.host.Ledger("Domino/Data/a.nsf.dat")),
                                 std::filesystem::create_directories(t.host.Ledger("Domino/Data/a.nsf.dat")); },
     "ERROR: Read error occured during reading of change information file into buffer: " + kWhere, 0, 0, 0},
};

TEST_P(ChangeInfoApplyTest, EachFailureNamesTheFileAndStops) {
  const ApplyFailure& c = GetParam();
  c.arrange(*this);
  auto entries = Entries({"D:\\Domino\\Data\\a.nsf", "D:\\Domino\\Data\\b.nsf"});
  EXPECT_EQ(ApplyChangeInformation(request, entries, kLedger, "D:"), -1);
  EXPECT_EQ(request.output.accumulated.substr(0, c.said.size()), c.said);
  EXPECT_EQ(starts.size(), c.starts);
  EXPECT_EQ(blocks.size(), c.blocks);
  EXPECT_EQ(ends.size(), c.ends);
}
INSTANTIATE_TEST_SUITE_P(Rows, ChangeInfoApplyTest, ::testing::ValuesIn(kApplyFailures));

const std::string kBeginning = "\r\nBeginning Domino UP TO THE MINUTE recovery.\r\n";

// One answer of the runtime's recovery: its status and the failing position.
struct Answer {
  STATUS status;
  WORD failingPosition;
};
struct Retry {
  const char* name;
  Names databases;
  std::vector<Answer> answers;
  STATUS result;
  std::vector<Names> calls;  // the lists the runtime got
  std::string said;          // after the beginning line
};
void PrintTo(const Retry& row, std::ostream* os) { *os << row.name; }

class DominoRecoveryTest : public ::testing::TestWithParam<Retry> {
 protected:
  // The runtime answers each recovery call with the next answer and records
  // the list it was given; the packed list must be its paths, NUL after
  // each, one more NUL (two for an empty list).
  void AnswerRecovery(std::vector<Answer> answers) {
    ON_CALL(domino, RecoverDatabaseList(_, _, _, _, _))
        .WillByDefault([this, answers](const char* packed, ArchivedLogCallbackFn callback, DWORD option,
                                       WORD* failing, TIMEDATE* limit) -> STATUS {
          std::size_t bytes = 0;
          calls.push_back(UnpackList(packed, &bytes));
          EXPECT_TRUE(bytes >= 2 && bytes <= 65536u) << bytes;
          EXPECT_TRUE(callback == &ArchivedLogCallback && option == 1u && limit == nullptr);
          const Answer& answer = answers.at(calls.size() - 1);
          *failing = answer.failingPosition;
          return answer.status;
        });
  }

  RestoreHost host;
  ::testing::NiceMock<IdleDominoApi> domino;
  RestoreRequest request = MakeRequest(0);
  std::vector<Names> calls;
};

TEST_F(DominoRecoveryTest, TheRuntimeGetsTheRecoveryListPackedInRunsThatFitItsBuffer) {
  // Left out: log.nsf, templates, disabled databases (whatever the case).
  const auto databases = Entries({"D:\\Data\\a.nsf", "D:\\Data\\LOG.NSF", "D:\\Data\\t.NTF",
                                  "D:\\Data\\mail\\Off.nsf", "D:\\Data\\b.box"});
  EXPECT_EQ(BuildRecoveryList(databases, {"d:\\data\\MAIL\\off.NSF"}), (Names{"D:\\Data\\a.nsf", "D:\\Data\\b.box"}));

  // More than 65,536 bytes of paths: two runs, one after the other, each
  // within the buffer; a database the runtime names in the second run is
  // the one at that position of that run, and only that run is retried.
  Names paths;
  for (int i = 0; i < 300; ++i) {
    paths.push_back("D:\\Domino\\Data\\" + std::string(220, 'x') + "\\db" + std::to_string(i) + ".nsf");
  }
  AnswerRecovery({{0, 0}, {0x1234, 2}, {0, 0}});
  EXPECT_EQ(RecoverDatabases(request, Entries(paths), std::nullopt, {}), 0);
  ASSERT_EQ(calls.size(), 3u);
  Names delivered = calls[0];
  delivered.insert(delivered.end(), calls[1].begin(), calls[1].end());
  EXPECT_EQ(delivered, paths);
  Names retried = calls[1];
  retried.erase(retried.begin() + 1);
  EXPECT_EQ(calls[2], retried);
  const std::size_t first = calls[0].size();
  EXPECT_EQ(request.output.accumulated,
            kBeginning + "Recovering databases 1 to " + std::to_string(first) + " of 300.\r\n"
            "Recovering databases " + std::to_string(first + 1) + " to 300 of 300.\r\n"
            "ERROR: Domino status 0x1234\r\n"
            "WARNING: Removing : " + calls[1][1] + " from recovery list.\r\nRetrying recovery.\r\n");
}

const std::string kA = "D:\\Data\\a.nsf", kB = "D:\\Data\\b.nsf", kC = "D:\\Data\\c.nsf";
const Retry kRetries[] = {
    // Only log.nsf and templates: the empty list.
    {"EmptyList", {"D:\\Data\\log.nsf", "D:\\Data\\pernames.ntf"}, {{0, 0}}, 0, {{}}, ""},
    // First a (not logged), then c (position 2 of b, c).
    {"TwoDropped", {kA, kB, kC}, {{ERR_DB_NOT_LOGGED, 1}, {0x1234, 2}, {0, 0}}, 0, {{kA, kB, kC}, {kB, kC}, {kB}},
     "ERROR: Domino status 0x13F5\r\nWARNING: Transaction logging disabled for : " + kA + ".\r\nRetrying recovery.\r\n"
     "ERROR: Domino status 0x1234\r\nWARNING: Removing : " + kC + " from recovery list.\r\nRetrying recovery.\r\n"},
    // The last database dropped, the empty list fails naming nobody: its status.
    {"LastDropped", {kA}, {{0x1234, 1}, {ERR_LOGS_MISSING, 0}}, ERR_LOGS_MISSING, {{kA}, {}},
     "ERROR: Domino status 0x1234\r\nWARNING: Removing : " + kA + " from recovery list.\r\nRetrying recovery.\r\n"
     "\r\nRECOVERY FAILED: All log files could not be found.\r\nERROR: Domino status 0x13E3\r\n"},
    // A failing position beyond the list ends recovery at once.
    {"PositionBeyondList", {kA, kB}, {{0x4321, 3}}, 0x4321, {{kA, kB}}, "ERROR: Domino status 0x0321\r\n"},  // masked
};

TEST_P(DominoRecoveryTest, TheDatabaseTheRuntimeNamesIsDroppedAndRecoveryRetried) {
  AnswerRecovery(GetParam().answers);
  EXPECT_EQ(RecoverDatabases(request, Entries(GetParam().databases), std::nullopt, {}), GetParam().result);
  EXPECT_EQ(calls, GetParam().calls);
  EXPECT_EQ(request.output.accumulated, kBeginning + GetParam().said);
}
INSTANTIATE_TEST_SUITE_P(Rows, DominoRecoveryTest, ::testing::ValuesIn(kRetries));

TEST_F(DominoRecoveryTest, PointInTimeRewritesEveryRecordButLogsAndReplaysNothing) {
  FakeDomino runtime;  // journals opens and closes; handles 1 to 4 in the order opened
  std::map<DBHANDLE, std::array<BYTE, 128>> written;
  ON_CALL(runtime, ReadDatabaseRecord(_, _)).WillByDefault([](DBHANDLE handle, BYTE record[128]) -> STATUS {
    for (int i = 0; i < 128; ++i) record[i] = BYTE(handle * 16 + i);
    return handle == 4 ? 0x0101 : 0;  // the fourth record cannot be read
  });
  ON_CALL(runtime, WriteDatabaseRecord(_, _)).WillByDefault([&](DBHANDLE handle, const BYTE record[128]) -> STATUS {
    std::copy(record, record + 128, written[handle].begin());
    return 0;
  });
  EXPECT_CALL(runtime, RecoverDatabaseList(_, _, _, _, _)).Times(0);
  EXPECT_EQ(RecoverDatabases(request, Entries({"D:\\Data\\a.nsf", "D:\\Data\\log.nsf", "D:\\Data\\t.ntf",
                                               "D:\\Data\\off.nsf", "D:\\Data\\unreadable.nsf"}),
                             std::string("3/2/2003 9:05:00"), {"D:\\Data\\off.nsf"}),
            0);
  EXPECT_EQ(runtime.Count("OpenDatabase D:\\Data\\log.nsf"), 0);
  EXPECT_EQ(runtime.Count("OpenDatabase D:\\Data\\off.nsf") + runtime.Count("CloseDatabase D:\\Data\\unreadable.nsf"), 2);
  EXPECT_TRUE(runtime.openHandles.empty());
  ASSERT_EQ(written.size(), 3u);  // the unreadable record is not overwritten
  for (const auto& [handle, record] : written) {
    for (int i = 0; i < 128; ++i) ASSERT_EQ(record[i], BYTE(handle * 16 + i));
  }
  EXPECT_EQ(request.output.accumulated, "");
}

// The archived-log call-back copies the requested log and its successors
// until one is missing; recovery hands it the running request.
TEST_F(DominoRecoveryTest, ArchivedLogCallbackCopiesTheLogsRecoveryAsksFor) {
  const auto active = [&](const std::string& name) { return host.Drive('E', "Logs/" + name); };
  host.WriteSavedLog(17, "seventeen");
  host.WriteSavedLog(18, "eighteen", "dominosnap__ARKHOST__srv1__01-02-2024_10.00.00");
  host.WriteSavedLog(20, "twenty");
  {
    CurrentRestoreScope current(request);
    EXPECT_EQ(ArchivedLogCallback(nullptr, 17, "E:\\Logs\\S0000017.TXN"), 0);
    EXPECT_EQ(request.output.accumulated, "First archive needed is: S0000017\r\n"
                                          "Copying archived log E:\\Logs\\S0000017.TXN\r\n"
                                          "Copying archived log E:\\Logs\\S0000018.TXN\r\n");
    EXPECT_EQ(ReadHostFile(active("S0000017.TXN")) + "|" + ReadHostFile(active("S0000018.TXN")), "seventeen|eighteen");
    EXPECT_FALSE(std::filesystem::exists(active("S0000019.TXN")) || std::filesystem::exists(active("S0000020.TXN")));
    // Asked again: the logs are in place already, which still counts.
    EXPECT_EQ(ArchivedLogCallback(nullptr, 17, "E:\\Logs\\S0000017.TXN"), 0);
    // A log no ArkLedger copy has: nothing copied, 0xFFFF.
    request.output.accumulated.clear();
    EXPECT_EQ(ArchivedLogCallback(nullptr, 99, "E:\\Logs\\S0000099.TXN"), 0xFFFF);
    EXPECT_EQ(request.output.accumulated, "First archive needed is: S0000099\r\n");
    EXPECT_FALSE(std::filesystem::exists(active("S0000099.TXN")));
  }
  host.WriteSavedLog(5, "five");
  ON_CALL(domino, RecoverDatabaseList(_, _, _, _, _))
      .WillByDefault([](const char*, ArchivedLogCallbackFn callback, DWORD, WORD*, TIMEDATE*) -> STATUS {
        return callback(nullptr, 5, "E:\\Logs\\S0000005.TXN") == 0 ? 0 : ERR_LOGS_MISSING;
      });
  EXPECT_EQ(RecoverDatabases(request, Entries({"D:\\Data\\a.nsf"}), std::nullopt, {}), 0);
  EXPECT_EQ(ReadHostFile(active("S0000005.TXN")), "five");
  // Outside a restore the call-back has no request to serve.
  EXPECT_EQ(CurrentRestoreRequest(), nullptr);
  EXPECT_EQ(ArchivedLogCallback(nullptr, 5, "E:\\Logs\\S0000005.TXN"), 0xFFFF);
}

}  // namespace

}  // namespace ark
