// The report store on real folders.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/eventlog.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "reports/report_store.h"
#include "tests/support/temp_host.h"
#include "tests/support/text_checks.h"

namespace ark {

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

class ReportStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(reports_);
    platform::SetEventObserver([this](const platform::EventRecord& event) {
      for (const std::string& text : event.strings) events_ += text + "\n";
    });
  }
  void TearDown() override { platform::SetEventObserver(nullptr); }
  std::string events_;  // the insertion strings of every event reported, one a line
  TempHostRoot root_{HostOptions{"D", "", "", "D:\\Reports", ""}};
  fs::path reports_ = root_.D() / "Reports";
  ReportStore& store_ = TheReportStore();
};

TEST_F(ReportStoreTest, ListsAndReadsPlainFilesOfEachTypeFolder) {
  const char* names[] = {"Configure", "Backup", "Restore", "Delete Snapshot"};
  EXPECT_TRUE(store_.ListReports(Backup).empty()) << "a missing folder lists as empty";
  for (int type = 0; type < 4; ++type) WriteHostFile(reports_ / names[type] / "r.txt", names[type]);
  WriteHostFile(reports_ / "Backup" / "old" / "inner.txt", "");  // a folder is no report
  for (int type = 0; type < 4; ++type) {
    EXPECT_EQ(store_.ListReports(type), std::vector<std::string>{"r.txt"});
    EXPECT_EQ(store_.ReadReport(type, "r.txt"), names[type]);
  }
  EXPECT_FALSE(ReportStore::IsValidReportType(4));
  EXPECT_THROW(ReportStore::ReportTypeName(4), InvalidReportType);
  store_.DeleteReportsOfType(Backup);
  EXPECT_TRUE(store_.ListReports(Backup).empty());
  EXPECT_TRUE(fs::exists(reports_ / "Backup" / "old" / "inner.txt"));

  // Reads give the exact bytes or raise with the path.
  const std::string text = "line\r\nzero\0byte\r\n\xff"s;
  WriteHostFile(reports_ / "Restore" / "r.txt", text);
  fs::create_directories(reports_ / "Restore" / "dir.txt");
  EXPECT_EQ(store_.ReadReport(Restore, "r.txt"), text);
  EXPECT_EQ(store_.ListReports(Restore), std::vector<std::string>{"r.txt"}) << "clearing one type keeps the others";

  try {
    store_.ReadReport(Restore, "nope.txt");
    ADD_FAILURE() << "no error for a missing report";
  } catch (const FileOpenFailure& e) {
    EXPECT_EQ(e.Text(), "Failed to open file D:\\Reports\\Restore\\nope.txt.");
  }
  EXPECT_THROW(store_.GetReportTime(Restore, "nope.txt"), FileOpenFailure);
  EXPECT_THROW(store_.ReadReport(Restore, "dir.txt"), FileOpenFailure) << "a folder is no report";
  EXPECT_NO_THROW(store_.DeleteReport(Restore, "nope.txt")) << "already gone counts as deleted";
  EXPECT_THROW(store_.DeleteReport(Restore, "dir.txt"), FileDeleteFailure) << "a delete that fails is said";
}

TEST_F(ReportStoreTest, SaveNamesByLocalTimeCreatesTheFolderAndKeepsEveryReport) {
  SYSTEMTIME t{2027, 1, 6, 9, 7, 5, 3, 999};
  EXPECT_EQ(ReportStore::MakeReportName(t), "01-09-2027_07.05.03.txt");

  const std::string text = "Backup started\r\n\x01\xfe\0 end\r\n"s;
  store_.SaveReport("Delete Snapshot", text);
  auto names = store_.ListReports(DeleteSnapshot);
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names[0].size(), 23u);
  EXPECT_EQ(ReadHostFile(reports_ / "Delete Snapshot" / names[0]), text);

  store_.SaveReport("Restore", "");
  ASSERT_EQ(store_.ListReports(Restore).size(), 1u);
  EXPECT_EQ(store_.ReadReport(Restore, store_.ListReports(Restore)[0]), "");

  // Two reports within one second: the second takes the next second's name.
  store_.SaveReport("Backup", "a much longer first report\r\n");
  store_.SaveReport("Backup", "second\r\n");
  names = store_.ListReports(Backup);
  ASSERT_EQ(names.size(), 2u);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(store_.ReadReport(Backup, names[0]), "a much longer first report\r\n");
  EXPECT_EQ(store_.ReadReport(Backup, names[1]), "second\r\n");
}

TEST_F(ReportStoreTest, FailedSavesGoToTheEventLogNeverToTheCaller) {
  platform::RegDeleteValue(kReportFolderKey, kReportFolderValue);
  EXPECT_THROW(store_.ListReports(Backup), RegistryKeyReadFailure);
  EXPECT_NO_THROW(store_.SaveReport("Backup", "text"));
  EXPECT_NE(events_.find("Unable to save Backup report."), std::string::npos) << events_;
  EXPECT_TRUE(Has(events_, "Failed to read registry value name ReportFolder under subkey "
                           "HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Arkhold for Domino 1.0\\Client."));

  // Only the type's folder is made, never a missing report folder.
  platform::RegSetString(kReportFolderKey, kReportFolderValue, "D:\\Gone\\Reports");
  EXPECT_NO_THROW(store_.SaveReport("Restore", "text"));
  EXPECT_FALSE(fs::exists(root_.D() / "Gone"));
  EXPECT_NE(events_.find("Unable to open D:\\Gone\\Reports\\Restore\\"), std::string::npos);

  // A type name that would leave the report folder writes nothing anywhere.
  platform::RegSetString(kReportFolderKey, kReportFolderValue, "D:\\Reports");
  store_.SaveReport("..\\Restore", "text");
  EXPECT_TRUE(fs::is_empty(reports_));
  EXPECT_NE(events_.find("Unable to save ..\\Restore report."), std::string::npos);

  platform::RegSetString(kReportFolderKey, kReportFolderValue, "D:\\" + std::string(257, 'r'));
  EXPECT_THROW(store_.GetReportFolder(), RegistryKeyReadFailure) << "longer than its buffer";
}

}  // namespace

}  // namespace ark
