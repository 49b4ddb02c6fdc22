// Saving reports: names from the local time, exact bytes, replacement within
// one second, and failures that end in the event log instead of an error.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "platform/clock.h"
#include "platform/registry.h"
#include "reports/report_store.h"
#include "tests/output/temp_host_root.h"

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class ReportSaveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::RegSetString(kReportFolderKey, kReportFolderValue, "D:\\Reports");
    fs::create_directories(root_.D() / "Reports");
  }
  std::string EventLog() const { return Slurp(root_.path() / "Logs" / "Application.log"); }

  TempHostRoot root_{"reportsave"};
  ReportStore& store_ = TheReportStore();
};

TEST_F(ReportSaveTest, SaveCreatesTheTypeFolderAndKeepsEveryByte) {
  const std::string text = "Backup started\r\nbinary \x01\xfe\0 end\r\n"s;
  SYSTEMTIME before;
  platform::GetLocalTime(before);
  store_.SaveReport("Delete Snapshot", text);

  const auto names = store_.ListReports(DeleteSnapshot);
  ASSERT_EQ(names.size(), 1u);
  EXPECT_TRUE(std::regex_match(names[0], std::regex(R"(\d\d-\d\d-\d{4}_\d\d\.\d\d\.\d\d\.txt)")))
      << names[0];
  // Named after the local date of the save.
  char date[32];
  std::snprintf(date, sizeof date, "%02u-%02u-%4u", unsigned(before.wMonth), unsigned(before.wDay),
                unsigned(before.wYear));
  EXPECT_EQ(names[0].substr(0, 10), date);
  EXPECT_EQ(store_.ReadReport(DeleteSnapshot, names[0]), text);
  EXPECT_EQ(Slurp(root_.D() / "Reports" / "Delete Snapshot" / names[0]), text);
}

TEST_F(ReportSaveTest, EmptyReportIsAnEmptyFile) {
  store_.SaveReport("Restore", "");
  const auto names = store_.ListReports(Restore);
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(fs::file_size(root_.D() / "Reports" / "Restore" / names[0]), 0u);
  EXPECT_EQ(store_.ReadReport(Restore, names[0]), "");
}

TEST_F(ReportSaveTest, SecondSaveInTheSameSecondReplacesTheFirst) {
  // Retry when the clock crosses a second between the two saves.
  for (int attempt = 0; attempt < 20; ++attempt) {
    store_.DeleteReportsOfType(Backup);
    store_.SaveReport("Backup", "a much longer first report\r\n");
    store_.SaveReport("Backup", "second\r\n");
    const auto names = store_.ListReports(Backup);
    if (names.size() != 1) continue;
    EXPECT_EQ(store_.ReadReport(Backup, names[0]), "second\r\n") << "old bytes left behind";
    return;
  }
  FAIL() << "never saved twice within one second";
}

TEST_F(ReportSaveTest, MissingReportFolderValueGoesToTheEventLog) {
  platform::RegDeleteValue(kReportFolderKey, kReportFolderValue);
  EXPECT_NO_THROW(store_.SaveReport("Backup", "lost?\r\n"));
  const std::string log = EventLog();
  EXPECT_NE(log.find("Unable to save Backup report."), std::string::npos) << log;
  EXPECT_NE(log.find("Failed to read registry value name ReportFolder"), std::string::npos) << log;
}

TEST_F(ReportSaveTest, UnwritableFolderAndUnknownTypeGoToTheEventLog) {
  // The report folder itself is missing: only the type folder is ever made.
  platform::RegSetString(kReportFolderKey, kReportFolderValue, "D:\\Gone\\Reports");
  EXPECT_NO_THROW(store_.SaveReport("Restore", "text"));
  EXPECT_FALSE(fs::exists(root_.D() / "Gone"));
  std::string log = EventLog();
  EXPECT_NE(log.find("Unable to save Restore report."), std::string::npos) << log;
  EXPECT_NE(log.find("Unable to open D:\\Gone\\Reports\\Restore\\"), std::string::npos) << log;

  // A type name that would leave the report folder writes nothing anywhere.
  platform::RegSetString(kReportFolderKey, kReportFolderValue, "D:\\Reports");
  EXPECT_NO_THROW(store_.SaveReport("..\\Restore", "text"));
  EXPECT_TRUE(fs::is_empty(root_.D() / "Reports"));
  log = EventLog();
  EXPECT_NE(log.find("Unable to save ..\\Restore report."), std::string::npos) << log;
}

}  // namespace
