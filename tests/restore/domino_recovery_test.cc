// Domino recovery: the recovery list and its packing, the retry rule, the
// captured runtime text, the point-in-time treatment and the archived-log
// call-back.
#include <gtest/gtest.h>

#include <cstdio>

#include "restore/archived_log_callback.h"
#include "restore/domino_recovery.h"
#include "tests/restore/fake_domino.h"
#include "tests/restore/restore_test_host.h"
#include "tests/restore/stream_recorder.h"

using ::testing::Invoke;
using ::testing::Return;

namespace {

std::vector<DatabaseEntry> Entries(const std::vector<std::string>& paths) {
  std::vector<DatabaseEntry> entries;
  for (const std::string& path : paths) {
    DatabaseEntry entry;
    entry.path = path;
    entries.push_back(entry);
  }
  return entries;
}

// One call of the runtime's recovery as the fake saw it, and its answer.
struct RecoveryCall {
  std::vector<std::string> paths;
  std::size_t packedBytes = 0;
};
struct Answer {
  STATUS status;
  WORD failingPosition;
};

class DominoRecoveryTest : public ::testing::Test {
 protected:
  DominoRecoveryTest() : request(RestoreTestHost::MakeRequest(0)) {}

  // The runtime answers each recovery call with the next answer.
  void AnswerRecovery(std::vector<Answer> answers) {
    ON_CALL(domino.api, RecoverDatabaseList(_, _, _, _, _))
        .WillByDefault(Invoke([this, answers](const char* packed, ArchivedLogCallbackFn callback,
                                              DWORD option, WORD* failing, DWORD limit) -> STATUS {
          RecoveryCall call;
          call.paths = UnpackList(packed, &call.packedBytes);
          calls.push_back(call);
          EXPECT_EQ(callback, &ArchivedLogCallback);
          EXPECT_EQ(option, 1u);
          EXPECT_EQ(limit, 0u);
          const Answer& answer = answers.at(calls.size() - 1);
          *failing = answer.failingPosition;
          return answer.status;
        }));
  }

  RestoreTestHost host;
  FakeDomino domino;
  RestoreRequest request;
  std::vector<RecoveryCall> calls;
};

TEST_F(DominoRecoveryTest, TheRuntimeGetsTheRecoveryListPackedInRunsThatFitItsBuffer) {
  // Left out: log.nsf, templates, disabled databases (whatever the case).
  const auto databases = Entries({"D:\\Data\\a.nsf", "D:\\Data\\LOG.NSF", "D:\\Data\\t.NTF",
                                  "D:\\Data\\mail\\Off.nsf", "D:\\Data\\b.box"});
  EXPECT_EQ(BuildRecoveryList(databases, {"d:\\data\\MAIL\\off.NSF"}),
            (std::vector<std::string>{"D:\\Data\\a.nsf", "D:\\Data\\b.box"}));
  const std::vector<char> two = PackRecoveryList({"ab", "c"});
  EXPECT_EQ(std::string(two.begin(), two.end()), std::string("ab\0c\0\0", 6));

  AnswerRecovery({{0, 0}, {0, 0}, {0x1234, 2}, {0, 0}});
  // Only log.nsf and templates: two NULs.
  EXPECT_EQ(RecoverDatabases(request, Entries({"D:\\Data\\log.nsf", "D:\\Data\\pernames.ntf"}),
                             std::nullopt, {}),
            0);
  EXPECT_EQ(request.output.accumulated, "\r\nBeginning Domino UP TO THE MINUTE recovery.\r\n");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_TRUE(calls[0].paths.empty());
  EXPECT_EQ(calls[0].packedBytes, 2u);

  // More than 65,536 bytes of paths: two runs, one after the other, each
  // within the buffer; a database the runtime names in the second run is
  // the one at that position of that run, and only that run is retried.
  std::vector<std::string> paths;
  for (int i = 0; i < 300; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "\\db%04d.nsf", i);
    paths.push_back("D:\\Domino\\Data\\" + std::string(220, 'x') + name);
  }
  request.output.accumulated.clear();
  EXPECT_EQ(RecoverDatabases(request, Entries(paths), std::nullopt, {}), 0);
  ASSERT_EQ(calls.size(), 4u);
  std::vector<std::string> delivered = calls[1].paths;
  delivered.insert(delivered.end(), calls[2].paths.begin(), calls[2].paths.end());
  EXPECT_EQ(delivered, paths);
  for (const RecoveryCall& call : calls) EXPECT_LE(call.packedBytes, 65536u);
  std::vector<std::string> retried = calls[2].paths;
  retried.erase(retried.begin() + 1);
  EXPECT_EQ(calls[3].paths, retried);
  const std::string first = std::to_string(calls[1].paths.size());
  EXPECT_EQ(request.output.accumulated,
            "\r\nBeginning Domino UP TO THE MINUTE recovery.\r\n"
            "Recovering databases 1 to " + first + " of 300.\r\n"
            "Recovering databases " + std::to_string(calls[1].paths.size() + 1) + " to 300 of 300.\r\n"
            "ERROR: Domino status 0x1234\r\n"
            "WARNING: Removing : " + calls[2].paths[1] + " from recovery list.\r\nRetrying recovery.\r\n");
}

TEST_F(DominoRecoveryTest, FailingDatabasesAreDroppedAndRecoveryRetried) {
  const std::vector<std::string> paths = {"D:\\Data\\a.nsf", "D:\\Data\\b.nsf", "D:\\Data\\c.nsf"};
  // First call names a (not logged), second names c (position 2 of b, c).
  AnswerRecovery({{ERR_DB_NOT_LOGGED, 1}, {0x1234, 2}, {0, 0}});
  EXPECT_EQ(RecoverDatabases(request, Entries(paths), std::nullopt, {}), 0);
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].paths, paths);
  EXPECT_EQ(calls[1].paths, (std::vector<std::string>{"D:\\Data\\b.nsf", "D:\\Data\\c.nsf"}));
  EXPECT_EQ(calls[2].paths, (std::vector<std::string>{"D:\\Data\\b.nsf"}));
  EXPECT_EQ(request.output.accumulated,
            "\r\nBeginning Domino UP TO THE MINUTE recovery.\r\n"
            "ERROR: Domino status 0x13F5\r\n"
            "WARNING: Transaction logging disabled for : D:\\Data\\a.nsf.\r\nRetrying recovery.\r\n"
            "ERROR: Domino status 0x1234\r\n"
            "WARNING: Removing : D:\\Data\\c.nsf from recovery list.\r\nRetrying recovery.\r\n");
}

TEST_F(DominoRecoveryTest, RecoveryEndsWithTheStatusWhenNoDatabaseIsLeftToBlame) {
  // A one-database list: dropped, then retried with the empty list, which
  // fails for missing logs naming nobody.
  AnswerRecovery({{0x1234, 1}, {ERR_LOGS_MISSING, 0}});
  EXPECT_EQ(RecoverDatabases(request, Entries({"D:\\Data\\a.nsf"}), std::nullopt, {}),
            ERR_LOGS_MISSING);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_TRUE(calls[1].paths.empty());
  EXPECT_EQ(calls[1].packedBytes, 2u);
  EXPECT_EQ(request.output.accumulated,
            "\r\nBeginning Domino UP TO THE MINUTE recovery.\r\n"
            "ERROR: Domino status 0x1234\r\n"
            "WARNING: Removing : D:\\Data\\a.nsf from recovery list.\r\nRetrying recovery.\r\n"
            "\r\nRECOVERY FAILED: All log files could not be found.\r\n"
            "ERROR: Domino status 0x13E3\r\n");

  // A failing position beyond the list ends recovery at once.
  calls.clear();
  request.output.accumulated.clear();
  AnswerRecovery({{0x4321, 3}});
  EXPECT_EQ(RecoverDatabases(request, Entries({"D:\\Data\\a.nsf", "D:\\Data\\b.nsf"}),
                             std::nullopt, {}),
            0x4321);
  EXPECT_EQ(calls.size(), 1u);
  EXPECT_EQ(request.output.accumulated.find("WARNING"), std::string::npos);
}

TEST_F(DominoRecoveryTest, WhatTheRuntimePrintsReachesTheClientInPiecesWhileItRuns) {
  const std::string progress(600, 'p');
  ON_CALL(domino.api, RecoverDatabaseList(_, _, _, _, _))
      .WillByDefault(Invoke([&](const char*, ArchivedLogCallbackFn, DWORD, WORD*, DWORD) -> STATUS {
        std::printf("%s", progress.c_str());
        std::fflush(stdout);
        return 0;
      }));
  StreamRecorder recorder;
  WORD failing = 7;
  EXPECT_EQ(RunDominoRecovery(request, PackRecoveryList({"D:\\Data\\a.nsf"}), failing), 0);
  EXPECT_EQ(failing, 0);
  const std::vector<std::string> messages = recorder.Stop();
  ASSERT_GE(messages.size(), 3u);
  std::string joined;
  for (const std::string& piece : messages) {
    EXPECT_LE(piece.size(), 256u);
    joined += piece;
  }
  EXPECT_EQ(joined, progress);
  EXPECT_EQ(request.output.accumulated, progress);
}

TEST_F(DominoRecoveryTest, PointInTimeRewritesEveryRecordButLogsAndReplaysNothing) {
  const auto databases = Entries({"D:\\Data\\a.nsf", "D:\\Data\\log.nsf", "D:\\Data\\t.ntf",
                                  "D:\\Data\\off.nsf", "D:\\Data\\unreadable.nsf"});
  std::map<std::string, DBHANDLE> handles{{"D:\\Data\\a.nsf", 1}, {"D:\\Data\\t.ntf", 2},
                                          {"D:\\Data\\off.nsf", 3},
                                          {"D:\\Data\\unreadable.nsf", 4}};
  std::vector<std::string> opened;
  std::map<DBHANDLE, std::array<BYTE, 128>> written;
  std::vector<DBHANDLE> closed;
  ON_CALL(domino.api, OpenDatabase(_, _))
      .WillByDefault(Invoke([&](const char* path, DBHANDLE* handle) -> STATUS {
        opened.push_back(path);
        *handle = handles.at(path);
        return 0;
      }));
  ON_CALL(domino.api, ReadDatabaseRecord(_, _))
      .WillByDefault(Invoke([](DBHANDLE handle, BYTE record[128]) -> STATUS {
        if (handle == 4) return 0x0101;
        for (int i = 0; i < 128; ++i) record[i] = BYTE(handle * 16 + i);
        return 0;
      }));
  ON_CALL(domino.api, WriteDatabaseRecord(_, _))
      .WillByDefault(Invoke([&](DBHANDLE handle, const BYTE record[128]) -> STATUS {
        std::copy(record, record + 128, written[handle].begin());
        return 0;
      }));
  ON_CALL(domino.api, CloseDatabase(_)).WillByDefault(Invoke([&](DBHANDLE handle) -> STATUS {
    closed.push_back(handle);
    return 0;
  }));
  EXPECT_CALL(domino.api, RecoverDatabaseList(_, _, _, _, _)).Times(0);

  EXPECT_EQ(RecoverDatabases(request, databases, std::string("3/2/2003 9:05:00"),
                             {"D:\\Data\\off.nsf"}),
            0);
  EXPECT_EQ(opened, (std::vector<std::string>{"D:\\Data\\a.nsf", "D:\\Data\\t.ntf",
                                              "D:\\Data\\off.nsf", "D:\\Data\\unreadable.nsf"}));
  ASSERT_EQ(written.size(), 3u);  // the unreadable record is not overwritten
  for (const auto& [handle, record] : written) {
    for (int i = 0; i < 128; ++i) ASSERT_EQ(record[i], BYTE(handle * 16 + i));
  }
  EXPECT_EQ(written.count(4), 0u);
  EXPECT_EQ(closed, (std::vector<DBHANDLE>{1, 2, 3, 4}));
  EXPECT_EQ(request.output.accumulated, "");
}

// ---- the archived-log call-back ----

class ArchivedLogCallbackTest : public DominoRecoveryTest {
 protected:
  std::string Active(const std::string& name) const { return host.Host("volumes/E/Logs/" + name); }
};

TEST_F(ArchivedLogCallbackTest, CopiesTheRequestedLogAndItsSuccessorsUntilOneIsMissing) {
  host.WriteSavedLog(17, "seventeen");
  host.WriteSavedLog(18, "eighteen", "dominosnap__ARKHOST__srv1__01-02-2024_10.00.00");
  host.WriteSavedLog(20, "twenty");
  CurrentRestoreScope current(request);

  EXPECT_EQ(ArchivedLogCallback(nullptr, 17, "E:\\Logs\\S0000017.TXN"), 0);
  EXPECT_EQ(request.output.accumulated,
            "First archive needed is: S0000017\r\n"
            "Copying archived log E:\\Logs\\S0000017.TXN\r\n"
            "Copying archived log E:\\Logs\\S0000018.TXN\r\n");
  EXPECT_EQ(RestoreTestHost::ReadFile(Active("S0000017.TXN")), "seventeen");
  EXPECT_EQ(RestoreTestHost::ReadFile(Active("S0000018.TXN")), "eighteen");
  EXPECT_FALSE(RestoreTestHost::Exists(Active("S0000019.TXN")));
  EXPECT_FALSE(RestoreTestHost::Exists(Active("S0000020.TXN")));

  // Asked again: the logs are in place already, which still counts.
  EXPECT_EQ(ArchivedLogCallback(nullptr, 17, "E:\\Logs\\S0000017.TXN"), 0);

  // A log no ArkLedger copy has: nothing copied, 0xFFFF.
  request.output.accumulated.clear();
  EXPECT_EQ(ArchivedLogCallback(nullptr, 99, "E:\\Logs\\S0000099.TXN"), 0xFFFF);
  EXPECT_EQ(request.output.accumulated, "First archive needed is: S0000099\r\n");
  EXPECT_FALSE(RestoreTestHost::Exists(Active("S0000099.TXN")));
}

TEST_F(ArchivedLogCallbackTest, RecoveryHandsTheCallbackTheRunningRequest) {
  host.WriteSavedLog(5, "five");
  ON_CALL(domino.api, RecoverDatabaseList(_, _, _, _, _))
      .WillByDefault(Invoke([](const char*, ArchivedLogCallbackFn callback, DWORD, WORD*,
                               DWORD) -> STATUS {
        return callback(nullptr, 5, "E:\\Logs\\S0000005.TXN") == 0 ? 0 : ERR_LOGS_MISSING;
      }));
  EXPECT_EQ(RecoverDatabases(request, Entries({"D:\\Data\\a.nsf"}), std::nullopt, {}), 0);
  EXPECT_EQ(RestoreTestHost::ReadFile(Active("S0000005.TXN")), "five");
  EXPECT_NE(request.output.accumulated.find("Copying archived log E:\\Logs\\S0000005.TXN\r\n"),
            std::string::npos);
  // Outside a restore the call-back has no request to serve.
  EXPECT_EQ(CurrentRestoreRequest(), nullptr);
  EXPECT_EQ(ArchivedLogCallback(nullptr, 5, "E:\\Logs\\S0000005.TXN"), 0xFFFF);
}

}  // namespace
