// Finding databases and log files, and where change information is kept.
#include <gtest/gtest.h>

#include <algorithm>

#include "backup/database_backup.h"
#include "backup/log_archive.h"
#include "test_host.h"

namespace {

std::vector<std::string> Paths(const std::vector<DatabaseEntry>& list) {
  std::vector<std::string> out;
  for (const auto& e : list) out.push_back(e.path);
  return out;
}

TEST(FindDatabases, FindsEveryDatabaseBelowTheDirectoryAndNothingElse) {
  TestHost host;
  host.WriteFile("volumes/D/Domino/Data/X.NSF", "a");
  host.WriteFile("volumes/D/Domino/Data/y.Ntf", "b");
  host.WriteFile("volumes/D/Domino/Data/z.box", "c");
  host.WriteFile("volumes/D/Domino/Data/a.nsf.bak", "d");
  host.WriteFile("volumes/D/Domino/Data/b.dat", "e");
  host.WriteFile("volumes/D/Domino/Data/nsf", "f");
  host.WriteFile("volumes/D/Domino/Data/mail/jo.nsf", "g");
  host.WriteFile("volumes/D/Domino/Data/mail/deep/er/ann.nsf", "h");
  std::filesystem::create_directories(host.Host("volumes/D/Domino/Data/empty"));

  std::vector<DatabaseEntry> list;
  list.push_back(DatabaseEntry{});  // the search appends, never removes
  list[0].path = "kept";
  EXPECT_EQ(FindDatabases("D:\\Domino\\Data", list), 0u);
  std::vector<std::string> found = Paths(list);
  ASSERT_EQ(found.size(), 6u);
  EXPECT_EQ(found[0], "kept");
  std::vector<std::string> rest(found.begin() + 1, found.end());
  std::sort(rest.begin(), rest.end());
  EXPECT_EQ(rest, (std::vector<std::string>{
                      "D:\\Domino\\Data\\X.NSF", "D:\\Domino\\Data\\mail\\deep\\er\\ann.nsf",
                      "D:\\Domino\\Data\\mail\\jo.nsf", "D:\\Domino\\Data\\y.Ntf",
                      "D:\\Domino\\Data\\z.box"}));
  for (std::size_t i = 1; i < list.size(); ++i) {
    EXPECT_EQ(list[i].handle, 0u);
    EXPECT_EQ(list[i].inBackup, 0u);
    EXPECT_EQ(list[i].logged, 0u);
  }

  // A subdirectory's databases come together, where the subdirectory was met.
  auto mailAt = std::find(found.begin(), found.end(), "D:\\Domino\\Data\\mail\\jo.nsf");
  auto deepAt = std::find(found.begin(), found.end(), "D:\\Domino\\Data\\mail\\deep\\er\\ann.nsf");
  EXPECT_EQ(std::abs(mailAt - deepAt), 1);

  // The same search with a trailing backslash gives the same paths.
  std::vector<DatabaseEntry> again;
  EXPECT_EQ(FindDatabases("D:\\Domino\\Data\\", again), 0u);
  EXPECT_EQ(Paths(again), std::vector<std::string>(found.begin() + 1, found.end()));
}

TEST(FindDatabases, EmptyMissingAndUnmappedDirectories) {
  TestHost host;
  std::vector<DatabaseEntry> list;
  EXPECT_EQ(FindDatabases("D:\\Domino\\Data", list), 0u);
  EXPECT_TRUE(list.empty());
  EXPECT_NE(FindDatabases("D:\\Domino\\Missing", list), 0u);
  EXPECT_NE(FindDatabases("Q:\\Domino", list), 0u);
  EXPECT_TRUE(list.empty());
}

TEST(MakeChangeInfoPath, MirrorsTheDatabaseDirectoryBelowTheLedger) {
  EXPECT_EQ(MakeChangeInfoPath("E:\\ledger\\snap1", "D:\\Domino\\Data\\mail\\Jo.NSF"),
            "E:\\ledger\\snap1\\Domino\\Data\\mail\\Jo.nsf.dat");
  EXPECT_EQ(MakeChangeInfoPath("E:\\ledger\\snap1\\", "D:\\Domino\\Data\\mail\\Jo.NSF"),
            "E:\\ledger\\snap1\\Domino\\Data\\mail\\Jo.nsf.dat");
  EXPECT_EQ(MakeChangeInfoPath("E:\\ledger\\snap1/", "D:\\x.Ntf"), "E:\\ledger\\snap1/x.ntf.dat");
  EXPECT_EQ(MakeChangeInfoPath("L:\\l", "D:\\a\\b.BOX"), "L:\\l\\a\\b.box.dat");
  // Two databases differing only in the extension never share a file.
  EXPECT_NE(MakeChangeInfoPath("L:\\l", "D:\\a\\b.nsf"), MakeChangeInfoPath("L:\\l", "D:\\a\\b.ntf"));
}

TEST(FindTransactionLogs, ListsLogFilesAndSkipsDotDirectories) {
  TestHost host;
  host.WriteFile("volumes/L/logs/A.TXN", "1");
  host.WriteFile("volumes/L/logs/b.Txn", "2");
  host.WriteFile("volumes/L/logs/txn", "3");
  host.WriteFile("volumes/L/logs/c.txn.old", "4");
  host.WriteFile("volumes/L/logs/.hidden/d.txn", "5");
  host.WriteFile("volumes/L/logs/sub/e.TXN", "6");

  std::vector<std::string> list{"kept"};
  FindTransactionLogs("L:\\logs", list);
  std::sort(list.begin(), list.end());
  EXPECT_EQ(list, (std::vector<std::string>{"L:\\logs\\A.TXN", "L:\\logs\\b.Txn",
                                            "L:\\logs\\sub\\e.TXN", "kept"}));

  std::vector<std::string> none;
  FindTransactionLogs("L:\\nowhere", none);
  EXPECT_TRUE(none.empty());
}

}  // namespace
