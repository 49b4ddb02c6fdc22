// Databases found, into backup mode, change information out, backups given up.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>

#include "backup/database_backup.h"
#include "platform/files.h"
#include "tests/backup/backup_host.h"
#include "tests/support/domino_doubles.h"

namespace ark {

namespace {

std::string Db(const std::string& name) { return "D:\\Domino\\Data\\" + name; }

std::string Pattern(std::size_t n, int seed) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = char(i * 131 + seed * 7 + i / 251);
  return s;
}

class DatabaseBackup;
struct CaptureFailure {  // of a.nsf's change information
  const char* name;
  std::function<void(DatabaseBackup&)> arrange;
  std::string ledger;
  std::string said;
};
void PrintTo(const CaptureFailure& row, std::ostream* os) { *os << row.name; }

class DatabaseBackup : public ::testing::TestWithParam<CaptureFailure> {
 public:
  // Start, then capture into L:\s (or the ledger given); the capture's result.
  int StartAndCapture(std::vector<DatabaseEntry>& list, const std::string& ledger = "L:\\s") {
    request_.output.accumulated.clear();
    EXPECT_EQ(StartDatabaseBackups(request_, list, disabled_), 0);
    platform::FlushBatch written;
    return CaptureChangeInfo(request_, list, ledger, written);
  }
  std::string Said() const { return request_.output.accumulated; }
  BackupHost host_;
  FakeDomino dom_;
  BackupRequest request_;
  Names disabled_;
};

// Twenty-five unlogged databases and three logged ones whose change
// information comes in chunks, is empty, or replaces an older file.
TEST_F(DatabaseBackup, AllAreBackedUpNineteenUnloggedListedAndEachFileHoldsSizeWordsThenEveryChunk) {
  Names paths;
  std::string warnings;
  for (int i = 0; i < 25; ++i) {
    paths.push_back(Db("db" + std::to_string(i) + ".nsf"));
    dom_.databases[paths[i]].logged = 0;
    if (i < 19) warnings += "WARNING: Database " + paths[i] + " is disabled for logging (WILL NOT BE RECOVERABLE).\r\n";
  }
  const std::string big = Db("mail\\Big.NSF"), empty = Db("empty.ntf"), small = Db("small.box");
  dom_.databases[big].changeInfo = Pattern(70000, 1);  // 32768 + 32768 + 4464
  dom_.databases[small].changeInfo = Pattern(5000, 2);
  dom_.databases[small].chunk = 1000;  // the runtime may deliver less than asked
  host_.Write('L', "s/Domino/Data/empty.ntf.dat", std::string(100000, 'x'));
  auto list = Entries(paths);
  for (const std::string& p : {big, empty, small}) list.push_back(Entries({p})[0]);
  ASSERT_EQ(StartAndCapture(list), 0);
  EXPECT_EQ(Said(), warnings);  // a capture that goes well says nothing
  EXPECT_EQ(disabled_, Names(paths.begin(), paths.begin() + 19));
  for (const std::string& p : paths) EXPECT_EQ(dom_.Count("BackupEnd " + p + " 0"), 1);
  EXPECT_TRUE(dom_.inBackup.empty() && dom_.openHandles.empty());
  EXPECT_EQ(host_.Read('L', "s/Domino/Data/mail/Big.nsf.dat"),
            std::string("\x70\x11\x01\0\0\0\0\0", 8) + Pattern(70000, 1));  // low word first
  EXPECT_EQ(host_.Read('L', "s/Domino/Data/empty.ntf.dat"), std::string(8, '\0'));
  EXPECT_EQ(host_.Read('L', "s/Domino/Data/small.box.dat"), std::string("\x88\x13\0\0\0\0\0\0", 8) + Pattern(5000, 2));
  EXPECT_EQ(dom_.Count("GetChangeInfo " + big), 4);  // three chunks and the empty one
}

TEST_F(DatabaseBackup, FailureAtTheThirdDatabaseGivesItUpAndLeavesTheRestToAbort) {
  const Names p{Db("a.nsf"), Db("b.nsf"), Db("c.nsf"), Db("d.nsf"), Db("e.nsf")};
  dom_.failures["GetChangeInfoSize " + p[2]] = 0x4123;  // shown masked with 0x3FFF
  auto list = Entries(p);
  ASSERT_EQ(StartAndCapture(list), -1);
  EXPECT_EQ(Said(), "ERROR: Cannot get changeinfo size of database : " + p[2] + ".\r\nDomino error 0x0123\r\n");
  EXPECT_EQ(dom_.Count("BackupEnd " + p[0] + " 0") + dom_.Count("BackupEnd " + p[1] + " 0"), 2);
  EXPECT_EQ(dom_.Count("BackupEnd " + p[2] + " 1"), 1);
  EXPECT_EQ(dom_.Count("BackupStop " + p[3]), 0);
  EXPECT_TRUE(host_.Exists('L', "s/Domino/Data/b.nsf.dat"));
  EXPECT_FALSE(host_.Exists('L', "s/Domino/Data/c.nsf.dat"));

  const std::size_t before = dom_.calls.size();
  EXPECT_EQ(AbortDatabaseBackups(list), 0);
  EXPECT_EQ(Names(dom_.calls.begin() + std::ptrdiff_t(before), dom_.calls.end()),
            (Names{"BackupStop " + p[3], "BackupEnd " + p[3] + " 1", "CloseDatabase " + p[3],
                   "BackupStop " + p[4], "BackupEnd " + p[4] + " 1", "CloseDatabase " + p[4]}));
  EXPECT_TRUE(dom_.openHandles.empty() && dom_.inBackup.empty());
  AbortDatabaseBackups(list);  // nothing is given up twice
  EXPECT_EQ(dom_.calls.size(), before + 6);
}

const std::string kA = Db("a.nsf"), kFile = "L:\\s\\Domino\\Data\\a.nsf.dat", kQ = "Q:\\s\\Domino\\Data\\a.nsf.dat";
const std::string kReadFailed =
    "ERROR: Getting change information (Notes API) failed (while writing to " + kFile + ").\r\n\r\n";
const CaptureFailure kCaptureFailures[] = {
    {"StopFails", [](auto& t) { t.dom_.failures["BackupStop " + kA] = 0x0105; }, "L:\\s",
     "ERROR: Cannot stop backupmode of  database : " + kA + ".\r\nDomino error 0x0105\r\n"},
    {"ReadFails", [](auto& t) { t.dom_.failures["GetChangeInfo " + kA] = 0x0106; }, "L:\\s", kReadFailed},
    {"LongerThanBuffer", [](auto& t) { t.dom_.overlongChunk = 40000; }, "L:\\s", kReadFailed},
    {"MoreThanAnnounced", [](auto& t) { t.dom_.databases[kA].sizeLow = 2; }, "L:\\s", kReadFailed},
    {"FewerThanAnnounced", [](auto& t) { t.dom_.databases[kA].sizeHigh = 1; }, "L:\\s", kReadFailed},
    {"LedgerUnmapped", [](auto&) {}, "Q:\\s",
     "ERROR: (ENOENT) File or path not found\r\nERROR: Cannot open changeinfo file : " + kQ +
         "\r\nMost likely due to failure to rename the recent " + kQ +
         ".\r\narkledger directory to it's time/date value.\r\n"},
    {"FileUnwritable", [](auto& t) {
       if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full to write to";
       std::filesystem::create_directories(t.host_.Drive('L', "s/Domino/Data"));
       std::filesystem::create_symlink("/dev/full", t.host_.Drive('L', "s/Domino/Data/a.nsf.dat"));
     }, "L:\\s", "ERROR: Cannot write low/high bytes to change info file: " + kFile + ".\r\n\r\n"},
};

TEST_P(DatabaseBackup, EachCaptureFailureNamesTheFileAndGivesTheDatabaseUp) {
  dom_.databases[kA].changeInfo = "abc";
  GetParam().arrange(*this);
  if (IsSkipped()) return;
  auto list = Entries({kA});
  EXPECT_EQ(StartAndCapture(list, GetParam().ledger), -1);
  EXPECT_EQ(Said(), GetParam().said);
  EXPECT_EQ(dom_.Count("BackupEnd " + kA + " 1"), 1);
  EXPECT_EQ(dom_.Count("BackupEnd " + kA + " 0"), 0);
  EXPECT_TRUE(dom_.openHandles.empty());
  EXPECT_EQ(list[0].inBackup, 0u);
}
INSTANTIATE_TEST_SUITE_P(Rows, DatabaseBackup, ::testing::ValuesIn(kCaptureFailures));

TEST_F(DatabaseBackup, StartFailuresStopAtTheFailingDatabaseWithItsMessage) {
  const Names p{Db("a.nsf"), Db("b.nsf"), Db("c.nsf")};
  const std::vector<std::pair<std::string, std::string>> cases{
      {"OpenDatabase", "ERROR: Cannot open database: " + p[1] +
                           "\r\nDomino Reports: Domino error 0x0103\r\nAborting backup of all databases.\r\n"},
      {"GetDatabaseLogInfo", "ERROR: Could not obtain log information for " + p[1] + " \r\nDomino error 0x0103\r\n"},
      {"BackupStart", "ERROR: Cannot place database : " + p[1] +
                          " in backup mode.\r\nDomino error 0x0103\r\nPlease restart the server and try again.\r\n"},
  };
  for (const auto& [op, message] : cases) {
    SCOPED_TRACE(op);
    FakeDomino dom;
    dom.failures[op + " " + p[1]] = 0x0103;
    auto list = Entries(p);
    request_.output.accumulated.clear();
    EXPECT_EQ(StartDatabaseBackups(request_, list, disabled_), -1);
    EXPECT_EQ(Said(), message);
    EXPECT_TRUE(list[0].inBackup == 1 && list[1].inBackup == 0 && list[1].lastStatus == 0x0103);
    EXPECT_EQ(dom.Count("OpenDatabase " + p[2]), 0);
    AbortDatabaseBackups(list);
    EXPECT_TRUE(dom.openHandles.empty() && dom.inBackup.empty());
    EXPECT_EQ(dom.Count("BackupEnd " + p[1] + " 1"), 0);
  }
}

TEST(FindDatabases, FindsEveryDatabaseBelowTheDirectoryAndNothingElse) {
  BackupHost host;
  for (const char* file : {"X.NSF", "y.Ntf", "z.box", "a.nsf.bak", "b.dat", "nsf", "mail/jo.nsf",
                           "mail/deep/er/ann.nsf", "mail/zz.txt"})
    host.Write('D', std::string("Domino/Data/") + file, "x");
  std::filesystem::create_directories(host.Drive('D', "Domino/Data/empty"));

  std::vector<DatabaseEntry> list(1);  // the search appends, never removes
  EXPECT_EQ(FindDatabases("D:\\Domino\\Data\\", list), 0u);
  std::vector<std::string> found;
  for (const auto& e : list) found.push_back(e.path);
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::string>{"", "D:\\Domino\\Data\\X.NSF", "D:\\Domino\\Data\\mail\\deep\\er\\ann.nsf",
                                             "D:\\Domino\\Data\\mail\\jo.nsf", "D:\\Domino\\Data\\y.Ntf",
                                             "D:\\Domino\\Data\\z.box"}));

  // Empty, missing and unmapped directories.
  std::vector<DatabaseEntry> none;
  EXPECT_EQ(FindDatabases("D:\\Domino\\Data\\empty", none), 0u);
  EXPECT_NE(FindDatabases("D:\\Domino\\Missing", none), 0u);
  EXPECT_NE(FindDatabases("Q:\\Domino", none), 0u);
  EXPECT_TRUE(none.empty());
}

}  // namespace

}  // namespace ark
