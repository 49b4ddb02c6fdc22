// Finding databases and log files, and where change information is kept.
#include <gtest/gtest.h>

#include <algorithm>

#include "backup/database_backup.h"
#include "backup/log_archive.h"
#include "tests/backup/backup_host.h"

namespace {

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
  // A subdirectory's databases come together, where the subdirectory was met.
  const auto at = [&](const std::string& p) { return std::find(found.begin(), found.end(), p) - found.begin(); };
  EXPECT_EQ(std::abs(at("D:\\Domino\\Data\\mail\\jo.nsf") - at("D:\\Domino\\Data\\mail\\deep\\er\\ann.nsf")), 1);
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::string>{"", "D:\\Domino\\Data\\X.NSF", "D:\\Domino\\Data\\mail\\deep\\er\\ann.nsf",
                                             "D:\\Domino\\Data\\mail\\jo.nsf", "D:\\Domino\\Data\\y.Ntf",
                                             "D:\\Domino\\Data\\z.box"}));
  for (const auto& e : list) EXPECT_TRUE(e.handle == 0 && e.inBackup == 0 && e.logged == 0);

  // Empty, missing and unmapped directories.
  std::vector<DatabaseEntry> none;
  EXPECT_EQ(FindDatabases("D:\\Domino\\Data\\empty", none), 0u);
  EXPECT_NE(FindDatabases("D:\\Domino\\Missing", none), 0u);
  EXPECT_NE(FindDatabases("Q:\\Domino", none), 0u);
  EXPECT_TRUE(none.empty());
}

TEST(FindDatabases, ChangeInfoPathMirrorsTheDatabaseDirectoryBelowTheLedger) {
  EXPECT_EQ(MakeChangeInfoPath("E:\\ledger\\snap1\\", "D:\\Domino\\Data\\mail\\Jo.NSF"),
            "E:\\ledger\\snap1\\Domino\\Data\\mail\\Jo.nsf.dat");
  EXPECT_EQ(MakeChangeInfoPath("E:\\ledger\\snap1/", "D:\\x.Ntf"), "E:\\ledger\\snap1/x.ntf.dat");
}

TEST(FindTransactionLogs, ListsLogFilesAndSkipsDotDirectories) {
  BackupHost host;
  for (const char* file : {"A.TXN", "b.Txn", "txn", "c.txn.old", ".hidden/d.txn", "sub/e.TXN"})
    host.Write('L', std::string("logs/") + file, "x");
  std::vector<std::string> list{"kept"};
  FindTransactionLogs("L:\\logs", list);
  std::sort(list.begin(), list.end());
  EXPECT_EQ(list, (std::vector<std::string>{"L:\\logs\\A.TXN", "L:\\logs\\b.Txn", "L:\\logs\\sub\\e.TXN", "kept"}));
  std::vector<std::string> none;
  FindTransactionLogs("L:\\nowhere", none);
  EXPECT_TRUE(none.empty());
}

}  // namespace
