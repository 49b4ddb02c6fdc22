// The report store on real folders: listing, reading, times, deleting, and
// names that must never reach outside a type's folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "platform/files.h"
#include "platform/registry.h"
#include "reports/report_store.h"
#include "tests/output/temp_host_root.h"

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

void WriteFile(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

class ReportStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::RegSetString(kReportFolderKey, kReportFolderValue, "D:\\Reports");
  }
  fs::path TypeDir(const std::string& name) const { return root_.D() / "Reports" / name; }

  TempHostRoot root_{"reports"};
  ReportStore& store_ = TheReportStore();
};

TEST_F(ReportStoreTest, TypesMapToTheirFolders) {
  const char* names[] = {"Configure", "Backup", "Restore", "Delete Snapshot"};
  for (int type = 0; type < 4; ++type) {
    EXPECT_TRUE(ReportStore::IsValidReportType(type));
    EXPECT_EQ(ReportStore::ReportTypeName(type), names[type]);
    WriteFile(TypeDir(names[type]) / "r.txt", names[type]);
  }
  for (int type = 0; type < 4; ++type) {
    EXPECT_EQ(store_.ListReports(type), std::vector<std::string>{"r.txt"});
    EXPECT_EQ(store_.ReadReport(type, "r.txt"), names[type]);
    EXPECT_EQ(store_.ReportPath(type, "r.txt"), std::string("D:\\Reports\\") + names[type] + "\\r.txt");
  }
  EXPECT_FALSE(ReportStore::IsValidReportType(4));
  EXPECT_FALSE(ReportStore::IsValidReportType(-1));
  EXPECT_THROW(ReportStore::ReportTypeName(4), InvalidReportType);
  EXPECT_THROW(store_.ListReports(-1), InvalidReportType);
}

TEST_F(ReportStoreTest, ListingHoldsPlainFilesOnly) {
  EXPECT_TRUE(store_.ListReports(Backup).empty()) << "missing folder lists as empty";
  fs::create_directories(TypeDir("Backup"));
  EXPECT_TRUE(store_.ListReports(Backup).empty());

  WriteFile(TypeDir("Backup") / "01-09-2027_07.05.03.txt", "a");
  WriteFile(TypeDir("Backup") / "other name.log", "b");
  fs::create_directories(TypeDir("Backup") / "old reports");
  WriteFile(TypeDir("Backup") / "old reports" / "inner.txt", "c");
  auto names = store_.ListReports(Backup);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"01-09-2027_07.05.03.txt", "other name.log"}));

  // A report folder value with a trailing backslash names the same folder.
  platform::RegSetString(kReportFolderKey, kReportFolderValue, "D:\\Reports\\");
  EXPECT_EQ(store_.ListReports(Backup).size(), 2u);
}

TEST_F(ReportStoreTest, ReadsExactBytesAndTimes) {
  const std::string text = "line\r\nzero\0byte\r\n\xff"s;
  WriteFile(TypeDir("Restore") / "r.txt", text);
  WriteFile(TypeDir("Restore") / "empty.txt", "");
  EXPECT_EQ(store_.ReadReport(Restore, "r.txt"), text);
  EXPECT_EQ(store_.ReadReport(Restore, "empty.txt"), "");

  const auto when = fs::file_time_type::clock::now() - std::chrono::hours(50);
  fs::last_write_time(TypeDir("Restore") / "r.txt", when);
  FILETIME expected;
  ASSERT_EQ(platform::GetLastWriteTime("D:\\Reports\\Restore\\r.txt", expected), ERROR_SUCCESS);
  const FILETIME got = store_.GetReportTime(Restore, "r.txt");
  EXPECT_EQ(FileTimeToU64(got), FileTimeToU64(expected));
  FILETIME now;
  ASSERT_EQ(platform::GetLastWriteTime("D:\\Reports\\Restore\\empty.txt", now), ERROR_SUCCESS);
  EXPECT_GT(FileTimeToU64(now) - FileTimeToU64(got), 49ull * 3600 * 10000000);
}

TEST_F(ReportStoreTest, MissingReportsRaiseWithTheirPath) {
  fs::create_directories(TypeDir("Backup") / "folder.txt");
  try {
    store_.ReadReport(Backup, "nope.txt");
    FAIL() << "no error for a missing report";
  } catch (const FileOpenFailure& e) {
    EXPECT_EQ(e.Text(), "Failed to open file D:\\Reports\\Backup\\nope.txt.");
  }
  EXPECT_THROW(store_.GetReportTime(Backup, "nope.txt"), FileOpenFailure);
  // A folder is not a report.
  EXPECT_THROW(store_.ReadReport(Backup, "folder.txt"), FileOpenFailure);
  EXPECT_THROW(store_.GetReportTime(Backup, "folder.txt"), FileOpenFailure);
  EXPECT_NO_THROW(store_.DeleteReport(Backup, "nope.txt"));
  EXPECT_TRUE(fs::is_directory(TypeDir("Backup") / "folder.txt"));
}

TEST_F(ReportStoreTest, HostileNamesAreRefusedAndTouchNothing) {
  WriteFile(root_.D() / "Reports" / "secret.txt", "outside");
  WriteFile(TypeDir("Restore") / "r.txt", "other type");
  WriteFile(root_.D() / "top.txt", "drive root");
  const std::string hostile[] = {"",         ".",          "..",           "..\\secret.txt",
                                 "../secret.txt", "..\\Restore\\r.txt", "D:\\top.txt", "C:top.txt",
                                 "a\\..\\..\\secret.txt", std::string("r.txt\0x", 7)};
  for (const std::string& name : hostile) {
    SCOPED_TRACE(name);
    EXPECT_THROW(store_.ReadReport(Backup, name), InvalidReportName);
    EXPECT_THROW(store_.GetReportTime(Backup, name), InvalidReportName);
    EXPECT_THROW(store_.DeleteReport(Backup, name), InvalidReportName);
    EXPECT_THROW(store_.ReportPath(Backup, name), InvalidReportName);
  }
  try {
    store_.ReadReport(Backup, "..\\secret.txt");
  } catch (const InvalidReportName& e) {
    EXPECT_EQ(e.Text(), "Invalid report name ..\\secret.txt.");
  }
  EXPECT_TRUE(fs::exists(root_.D() / "Reports" / "secret.txt"));
  EXPECT_TRUE(fs::exists(TypeDir("Restore") / "r.txt"));
  EXPECT_TRUE(fs::exists(root_.D() / "top.txt"));
}

TEST_F(ReportStoreTest, DeleteAllOfOneTypeKeepsOthersAndSubfolders) {
  for (int i = 0; i < 5; ++i) WriteFile(TypeDir("Backup") / ("b" + std::to_string(i)), "x");
  fs::create_directories(TypeDir("Backup") / "keep");
  WriteFile(TypeDir("Restore") / "r.txt", "y");
  store_.DeleteReportsOfType(Backup);
  EXPECT_TRUE(store_.ListReports(Backup).empty());
  EXPECT_TRUE(fs::is_directory(TypeDir("Backup") / "keep"));
  EXPECT_EQ(store_.ListReports(Restore), std::vector<std::string>{"r.txt"});
  store_.DeleteReport(Restore, "r.txt");
  EXPECT_TRUE(store_.ListReports(Restore).empty());
  EXPECT_NO_THROW(store_.DeleteReportsOfType(Configure));  // folder missing
}

TEST_F(ReportStoreTest, MissingOrOversizedReportFolderValueRaises) {
  platform::RegDeleteValue(kReportFolderKey, kReportFolderValue);
  try {
    store_.GetReportFolder();
    FAIL() << "no error for a missing ReportFolder";
  } catch (const RegistryKeyReadFailure& e) {
    EXPECT_EQ(e.Text(),
              "Failed to read registry value name ReportFolder under subkey "
              "HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Arkhold for Domino 1.0\\Client.");
  }
  EXPECT_THROW(store_.ListReports(Backup), RegistryKeyReadFailure);
  EXPECT_THROW(store_.ReadReport(Backup, "r.txt"), RegistryKeyReadFailure);

  platform::RegSetDword(kReportFolderKey, kReportFolderValue, 5);
  EXPECT_THROW(store_.GetReportFolder(), RegistryKeyReadFailure);
  platform::RegSetString(kReportFolderKey, kReportFolderValue, "D:\\" + std::string(257, 'r'));
  EXPECT_THROW(store_.GetReportFolder(), RegistryKeyReadFailure);
  platform::RegSetString(kReportFolderKey, kReportFolderValue, "D:\\" + std::string(256, 'r'));
  EXPECT_EQ(store_.GetReportFolder().size(), 259u);
}

TEST_F(ReportStoreTest, ReportNamesFollowTheLocalTime) {
  SYSTEMTIME t;
  t.wYear = 2027;
  t.wMonth = 1;
  t.wDay = 9;
  t.wHour = 7;
  t.wMinute = 5;
  t.wSecond = 3;
  EXPECT_EQ(ReportStore::MakeReportName(t), "01-09-2027_07.05.03.txt");
  t = SYSTEMTIME{2026, 12, 6, 5, 3, 38, 16, 999};
  EXPECT_EQ(ReportStore::MakeReportName(t), "12-05-2026_03.38.16.txt");
}

}  // namespace
