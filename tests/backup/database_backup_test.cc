// Databases into backup mode, change information out, backups given up.
#include <gtest/gtest.h>

#include <unistd.h>

#include "backup/database_backup.h"
#include "fake_domino.h"
#include "test_host.h"

namespace {

std::vector<DatabaseEntry> MakeList(const std::vector<std::string>& paths) {
  std::vector<DatabaseEntry> list;
  for (const auto& p : paths) {
    DatabaseEntry e;
    e.path = p;
    list.push_back(e);
  }
  return list;
}

std::string Db(const std::string& name) { return "D:\\Domino\\Data\\" + name; }

std::string U32(DWORD v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = char((v >> (8 * i)) & 0xFF);
  return s;
}

std::string Pattern(std::size_t n, int seed) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = char((i * 131 + seed * 7 + i / 251) & 0xFF);
  return s;
}

int BackupEnds(const FakeDomino& dom, const std::string& path, int abandon) {
  return dom.Count("BackupEnd " + path + " " + std::to_string(abandon));
}

TEST(DatabaseBackup, TwentyFiveUnloggedDatabasesAreAllBackedUpAndNineteenListed) {
  TestHost host;
  FakeDomino dom;
  std::vector<std::string> paths;
  for (int i = 0; i < 25; ++i) {
    paths.push_back(Db("db" + std::to_string(i) + ".nsf"));
    dom.databases[paths.back()].logged = 0;
    dom.databases[paths.back()].changeInfo = Pattern(100 + i, i);
  }
  auto list = MakeList(paths);
  std::vector<std::string> disabled;
  BackupRequest request;
  ASSERT_EQ(StartDatabaseBackups(request, list, disabled), 0);

  std::string warnings;
  for (int i = 0; i < 19; ++i)
    warnings += "WARNING: Database " + paths[i] + " is disabled for logging (WILL NOT BE RECOVERABLE).\r\n";
  EXPECT_EQ(request.output.accumulated, warnings);
  EXPECT_EQ(disabled, std::vector<std::string>(paths.begin(), paths.begin() + 19));
  EXPECT_EQ(dom.inBackup.size(), 25u);
  for (const auto& e : list) EXPECT_EQ(e.inBackup, 1u);

  ASSERT_EQ(CaptureChangeInfo(request, list, "L:\\ArkLedger\\snap"), 0);
  for (int i = 0; i < 25; ++i) {
    std::string file = host.ReadFile("volumes/L/ArkLedger/snap/Domino/Data/db" + std::to_string(i) + ".nsf.dat");
    EXPECT_EQ(file, U32(DWORD(100 + i)) + U32(0) + Pattern(100 + i, i)) << i;
    EXPECT_EQ(BackupEnds(dom, paths[i], 0), 1);
    EXPECT_EQ(list[i].inBackup, 0u);
  }
  EXPECT_TRUE(dom.inBackup.empty());
  EXPECT_TRUE(dom.openHandles.empty());
  EXPECT_EQ(request.output.accumulated, warnings);  // capture says nothing when all goes well
}

TEST(DatabaseBackup, ChangeInformationFileHoldsSizeWordsThenEveryChunkAndReplacesAnOldFile) {
  TestHost host;
  FakeDomino dom;
  const std::string big = Db("mail\\Big.NSF"), empty = Db("empty.ntf"), small = Db("small.box");
  dom.databases[big].changeInfo = Pattern(70000, 1);  // three chunks: 32768 + 32768 + 4464
  dom.databases[small].changeInfo = Pattern(5000, 2);
  dom.databases[small].chunk = 1000;  // the runtime may deliver less than asked
  // A longer file from an earlier backup at the same path must not survive.
  host.WriteFile("volumes/L/ArkLedger/s/Domino/Data/empty.ntf.dat", std::string(100000, 'x'));

  auto list = MakeList({big, empty, small});
  std::vector<std::string> disabled;
  BackupRequest request;
  ASSERT_EQ(StartDatabaseBackups(request, list, disabled), 0);
  ASSERT_EQ(CaptureChangeInfo(request, list, "L:\\ArkLedger\\s"), 0);

  EXPECT_EQ(host.ReadFile("volumes/L/ArkLedger/s/Domino/Data/mail/Big.nsf.dat"),
            std::string("\x70\x11\x01\0\0\0\0\0", 8) + Pattern(70000, 1));  // low word first
  EXPECT_EQ(host.ReadFile("volumes/L/ArkLedger/s/Domino/Data/empty.ntf.dat"), std::string(8, '\0'));
  EXPECT_EQ(host.ReadFile("volumes/L/ArkLedger/s/Domino/Data/small.box.dat"),
            U32(5000) + U32(0) + Pattern(5000, 2));
  EXPECT_EQ(dom.Count("GetChangeInfo " + big), 4);    // three chunks and the empty one
  EXPECT_EQ(dom.Count("GetChangeInfo " + empty), 1);
  EXPECT_EQ(request.output.accumulated, "");
}

TEST(DatabaseBackup, FailureAtTheThirdDatabaseGivesItUpAndLeavesTheRestToAbort) {
  TestHost host;
  FakeDomino dom;
  std::vector<std::string> paths{Db("a.nsf"), Db("b.nsf"), Db("c.nsf"), Db("d.nsf"), Db("e.nsf")};
  for (const auto& p : paths) dom.databases[p].changeInfo = "data of " + p;
  dom.failures["GetChangeInfoSize " + paths[2]] = 0x4123;  // shown masked with 0x3FFF
  auto list = MakeList(paths);
  std::vector<std::string> disabled;
  BackupRequest request;
  ASSERT_EQ(StartDatabaseBackups(request, list, disabled), 0);
  ASSERT_EQ(CaptureChangeInfo(request, list, "L:\\ArkLedger\\s"), -1);
  EXPECT_EQ(request.output.accumulated, "ERROR: Cannot get changeinfo size of database : " + paths[2] +
                                            ".\r\nDomino error 0x0123\r\n");
  EXPECT_EQ(BackupEnds(dom, paths[0], 0), 1);
  EXPECT_EQ(BackupEnds(dom, paths[1], 0), 1);
  EXPECT_EQ(BackupEnds(dom, paths[2], 1), 1);
  EXPECT_EQ(dom.Count("BackupStop " + paths[3]), 0);  // never looked at by the capture
  EXPECT_EQ(list[3].inBackup, 1u);
  EXPECT_EQ(list[4].inBackup, 1u);
  EXPECT_TRUE(host.Exists("volumes/L/ArkLedger/s/Domino/Data/b.nsf.dat"));
  EXPECT_FALSE(host.Exists("volumes/L/ArkLedger/s/Domino/Data/c.nsf.dat"));

  const std::size_t before = dom.calls.size();
  EXPECT_EQ(AbortDatabaseBackups(request, list), 0);
  std::vector<std::string> abortCalls(dom.calls.begin() + before, dom.calls.end());
  EXPECT_EQ(abortCalls, (std::vector<std::string>{
                            "BackupStop " + paths[3], "BackupEnd " + paths[3] + " 1", "CloseDatabase " + paths[3],
                            "BackupStop " + paths[4], "BackupEnd " + paths[4] + " 1", "CloseDatabase " + paths[4]}));
  EXPECT_TRUE(dom.openHandles.empty());
  EXPECT_TRUE(dom.inBackup.empty());
  // Nothing is given up twice.
  EXPECT_EQ(AbortDatabaseBackups(request, list), 0);
  EXPECT_EQ(dom.calls.size(), before + 6);
}

TEST(DatabaseBackup, EachCaptureFailureNamesTheFileAndGivesTheDatabaseUp) {
  TestHost host;
  struct Case {
    std::string what;
    std::function<void(FakeDomino&, const std::string&)> arrange;
    std::string ledger;
    std::function<std::string(const std::string& file)> message;
  };
  const std::string db = Db("a.nsf");
  std::vector<Case> cases{
      {"stop", [](FakeDomino& d, const std::string& p) { d.failures["BackupStop " + p] = 0x0105; },
       "L:\\ArkLedger\\s",
       [&](const std::string&) {
         return "ERROR: Cannot stop backupmode of  database : " + db + ".\r\nDomino error 0x0105\r\n";
       }},
      {"read", [](FakeDomino& d, const std::string& p) { d.failures["GetChangeInfo " + p] = 0x0106; },
       "L:\\ArkLedger\\s",
       [](const std::string& f) {
         return "ERROR: Getting change information (Notes API) failed (while writing to " + f + ").\r\n\r\n";
       }},
      {"overlong", [](FakeDomino& d, const std::string&) { d.overlongChunk = 40000; }, "L:\\ArkLedger\\s",
       [](const std::string& f) {
         return "ERROR: Getting change information (Notes API) failed (while writing to " + f + ").\r\n\r\n";
       }},
      {"more than announced", [](FakeDomino& d, const std::string& p) { d.databases[p].sizeLow = 2; },
       "L:\\ArkLedger\\s",
       [](const std::string& f) {
         return "ERROR: Getting change information (Notes API) failed (while writing to " + f + ").\r\n\r\n";
       }},
      {"fewer than announced", [](FakeDomino& d, const std::string& p) { d.databases[p].sizeHigh = 1; },
       "L:\\ArkLedger\\s",
       [](const std::string& f) {
         return "ERROR: Getting change information (Notes API) failed (while writing to " + f + ").\r\n\r\n";
       }},
      {"unmapped drive", [](FakeDomino&, const std::string&) {}, "Q:\\ArkLedger\\s",
       [](const std::string& f) {
         return "ERROR: (ENOENT) File or path not found\r\nERROR: Cannot open changeinfo file : " + f +
                "\r\nMost likely due to failure to rename the recent " + f +
                ".\r\narkledger directory to it's time/date value.\r\n";
       }},
  };
  for (const Case& c : cases) {
    FakeDomino dom;
    dom.databases[db].changeInfo = "abc";
    c.arrange(dom, db);
    auto list = MakeList({db});
    std::vector<std::string> disabled;
    BackupRequest request;
    ASSERT_EQ(StartDatabaseBackups(request, list, disabled), 0) << c.what;
    EXPECT_EQ(CaptureChangeInfo(request, list, c.ledger), -1) << c.what;
    EXPECT_EQ(request.output.accumulated, c.message(c.ledger + "\\Domino\\Data\\a.nsf.dat")) << c.what;
    EXPECT_EQ(BackupEnds(dom, db, 1), 1) << c.what;
    EXPECT_EQ(BackupEnds(dom, db, 0), 0) << c.what;
    EXPECT_TRUE(dom.openHandles.empty()) << c.what;
    EXPECT_EQ(list[0].inBackup, 0u) << c.what;
  }
}

TEST(DatabaseBackup, AFileThatCannotBeWrittenIsReportedNotTakenAsSaved) {
  TestHost host;
  if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "/dev/full is not available";
  FakeDomino dom;
  const std::string db = Db("a.nsf");
  dom.databases[db].changeInfo = "abc";
  std::filesystem::create_directories(host.Host("volumes/L/ArkLedger/s/Domino/Data"));
  std::filesystem::create_symlink("/dev/full", host.Host("volumes/L/ArkLedger/s/Domino/Data/a.nsf.dat"));
  auto list = MakeList({db});
  std::vector<std::string> disabled;
  BackupRequest request;
  ASSERT_EQ(StartDatabaseBackups(request, list, disabled), 0);
  EXPECT_EQ(CaptureChangeInfo(request, list, "L:\\ArkLedger\\s"), -1);
  EXPECT_EQ(request.output.accumulated,
            "ERROR: Cannot write low/high bytes to change info file: "
            "L:\\ArkLedger\\s\\Domino\\Data\\a.nsf.dat.\r\n\r\n");
  EXPECT_EQ(BackupEnds(dom, db, 1), 1);
  EXPECT_TRUE(dom.openHandles.empty());
}

TEST(DatabaseBackup, StartFailuresStopAtTheFailingDatabaseWithItsMessage) {
  TestHost host;
  const std::vector<std::string> paths{Db("a.nsf"), Db("b.nsf"), Db("c.nsf")};
  struct Case {
    std::string op;
    std::string message;
    bool closed;  // the failing database was opened and must be closed
  };
  std::vector<Case> cases{
      {"OpenDatabase",
       "ERROR: Cannot open database: " + paths[1] +
           "\r\nDomino Reports: Domino error 0x0103\r\nAborting backup of all databases.\r\n",
       false},
      {"GetDatabaseLogInfo",
       "ERROR: Could not obtain log information for " + paths[1] + " \r\nDomino error 0x0103\r\n", true},
      {"BackupStart",
       "ERROR: Cannot place database : " + paths[1] +
           " in backup mode.\r\nDomino error 0x0103\r\nPlease restart the server and try again.\r\n",
       true},
  };
  for (const Case& c : cases) {
    FakeDomino dom;
    dom.failures[c.op + " " + paths[1]] = 0x0103;
    auto list = MakeList(paths);
    std::vector<std::string> disabled;
    BackupRequest request;
    EXPECT_EQ(StartDatabaseBackups(request, list, disabled), -1) << c.op;
    EXPECT_EQ(request.output.accumulated, c.message) << c.op;
    EXPECT_EQ(list[0].inBackup, 1u) << c.op;
    EXPECT_EQ(list[1].inBackup, 0u) << c.op;
    EXPECT_EQ(list[1].lastStatus, 0x0103) << c.op;
    EXPECT_EQ(dom.Count("OpenDatabase " + paths[2]), 0) << c.op;
    EXPECT_EQ(dom.Count("CloseDatabase " + paths[1]), c.closed ? 1 : 0) << c.op;
    AbortDatabaseBackups(request, list);
    EXPECT_TRUE(dom.openHandles.empty()) << c.op;
    EXPECT_TRUE(dom.inBackup.empty()) << c.op;
    EXPECT_EQ(dom.Count("BackupEnd " + paths[1] + " 1"), 0) << c.op;
  }
}

TEST(DatabaseBackup, GuardGivesUpEveryBackupWhenAnExceptionLeavesTheScope) {
  TestHost host;
  FakeDomino dom;
  const std::vector<std::string> paths{Db("a.nsf"), Db("b.nsf"), Db("c.nsf")};
  dom.throws.insert("BackupStart " + paths[2]);
  BackupRequest request;
  std::vector<DatabaseEntry> list = MakeList(paths);
  std::vector<std::string> disabled;
  EXPECT_THROW(
      {
        DatabaseBackupGuard guard(request, list);
        StartDatabaseBackups(request, list, disabled);
      },
      std::runtime_error);
  EXPECT_TRUE(dom.inBackup.empty());
  EXPECT_TRUE(dom.openHandles.empty());
  EXPECT_EQ(dom.Count("BackupEnd " + paths[0] + " 1"), 1);
  EXPECT_EQ(dom.Count("BackupEnd " + paths[1] + " 1"), 1);

  // A runtime that throws while a backup is given up does not stop the
  // others from being given up.
  FakeDomino dom2;
  dom2.throws.insert("BackupStop " + paths[0]);
  std::vector<DatabaseEntry> list2 = MakeList(paths);
  {
    DatabaseBackupGuard guard(request, list2);
    ASSERT_EQ(StartDatabaseBackups(request, list2, disabled), 0);
  }
  EXPECT_EQ(dom2.Count("BackupEnd " + paths[0] + " 1"), 1);
  EXPECT_EQ(dom2.Count("BackupEnd " + paths[1] + " 1"), 1);
  EXPECT_EQ(dom2.Count("BackupEnd " + paths[2] + " 1"), 1);
  for (const auto& e : list2) EXPECT_EQ(e.inBackup, 0u);
  EXPECT_TRUE(dom2.openHandles.empty());
}

}  // namespace
