// A host root for snapshot tests: drive E: mapped to a temporary volume
// directory, computer name HOST1, CHANGE_INFO_DIR E:\ledger, a report
// folder, local time five hours behind UTC, and the fake component.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

#include "common/records.h"
#include "output/output.h"
#include "platform/clock.h"
#include "platform/host.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "tests/snapshot/fake_component.h"

namespace fs = std::filesystem;

inline FILETIME Utc(int year, int month, int day, int hour, int minute, int second) {
  SYSTEMTIME t;
  t.wYear = WORD(year);
  t.wMonth = WORD(month);
  t.wDay = WORD(day);
  t.wHour = WORD(hour);
  t.wMinute = WORD(minute);
  t.wSecond = WORD(second);
  FILETIME ft;
  EXPECT_TRUE(platform::SystemTimeToFileTime(t, ft));
  return ft;
}

inline std::string ReadHostFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteHostFile(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

class SnapshotHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("TZ", "EST5", 1);
    ::tzset();
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    root_ = fs::temp_directory_path() / ("ark-snapshot-" + std::to_string(::getpid()) + "-" +
                                         info->test_suite_name() + "-" + info->name());
    fs::remove_all(root_);
    fs::create_directories(root_ / "E");
    fs::create_directories(root_ / "Windows");
    fs::create_directories(root_ / "reports");
    platform::SetHostRoot(root_.string());
    platform::RegSetString("SYSTEM\\CurrentControlSet\\Control\\Session Manager\\DOS Devices", "E:",
                           (root_ / "E").string());
    platform::RegSetString("SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName",
                           "ComputerName", "HOST1");
    platform::WritePrivateProfileString("NOTES", "CHANGE_INFO_DIR", "E:\\ledger",
                                        "C:\\Windows\\ark.ini");
    platform::RegSetString("SOFTWARE\\Corvane\\Arkhold for Domino 1.0\\Client", "ReportFolder",
                           "C:\\reports");
    component_ = std::make_unique<FakeComponent>();
    ClearReportText();
    server_.commonName = "srv1";
    server_.serverName = "srv1/Org";
    server_.dataDirectory = "E:\\data";
    server_.dataVolume.driveLetter = u'E';
    server_.dataVolume.volumeName = "vol1";
  }
  void TearDown() override {
    component_.reset();
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  FakeComponentState& fake() { return component_->state(); }
  fs::path Ledger(const std::string& name) const { return root_ / "E" / "ledger" / "srv1" / name; }
  std::vector<fs::path> Reports() const {
    std::vector<fs::path> found;
    if (fs::exists(root_ / "reports")) {
      for (const auto& e : fs::recursive_directory_iterator(root_ / "reports")) {
        if (e.is_regular_file()) found.push_back(e.path());
      }
    }
    return found;
  }

  fs::path root_;
  std::unique_ptr<FakeComponent> component_;
  DominoServerInfo server_;
};

// Names as this host gives them.
inline std::string Dated(const std::string& server, const std::string& stamp) {
  return "dominosnap__HOST1__" + server + "__" + stamp;
}
inline std::string Recent(const std::string& upperServer) {
  return "dominosnap__HOST1__" + upperServer + "__recent";
}
