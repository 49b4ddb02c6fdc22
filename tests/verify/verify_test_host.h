// A host root for the verification tests: drive E: mapped to a temporary
// volume directory, computer name HOST1, CHANGE_INFO_DIR E:\ledger, a report
// folder, the in-memory snapshot component and a Domino API that fails the
// test on any call. Three snapshots of server srv1 form a sound chain:
//
//   A  dominosnap__HOST1__srv1__1-1-2024_10.0.0  log_hint 40, logs\ 38 39
//   B  dominosnap__HOST1__srv1__1-2-2024_10.0.0  log_hint 43, logs\ 40 41 42
//   C  dominosnap__HOST1__SRV1__recent           log_hint 46, logs\ 43 44 45
//
// so each is restorable up to the minute until a test damages something.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "common/records.h"
#include "output/output.h"
#include "platform/clock.h"
#include "platform/host.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "reports/report_store.h"
#include "tests/snapshot/fake_component.h"
#include "tests/support/mock_domino_api.h"
#include "verify/snapshot_verification.h"

namespace verifytest {

namespace fs = std::filesystem;

inline const std::string kSnapA = "dominosnap__HOST1__srv1__1-1-2024_10.0.0";
inline const std::string kSnapB = "dominosnap__HOST1__srv1__1-2-2024_10.0.0";
inline const std::string kSnapC = "dominosnap__HOST1__SRV1__recent";
inline const std::string kSeries = "0000000f";

inline FILETIME Hours(int hours) {
  // 2024-01-01 00:00 UTC plus hours.
  return U64ToFileTime(133485408000000000ull + 36000000000ull * std::uint64_t(hours));
}

inline void WriteHostFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string ReadHostFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The 8-byte header (low word, high word) and then body bytes.
inline std::string ChangeInfo(std::uint64_t announced, std::size_t bodyBytes) {
  std::string bytes;
  for (int i = 0; i < 8; ++i) bytes.push_back(char((announced >> (8 * i)) & 0xFF));
  bytes.append(bodyBytes, 'c');
  return bytes;
}

inline std::string LogName(unsigned number) {
  char name[32];
  std::snprintf(name, sizeof name, "S%07u.TXN", number);
  return name;
}

// Every file and directory below root (except the report folder) with its
// size and modification time, to show that a run changed nothing.
inline std::map<std::string, std::string> Listing(const fs::path& root) {
  std::map<std::string, std::string> listing;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    const std::string relative = fs::relative(it->path(), root).string();
    if (relative == "reports") {
      it.disable_recursion_pending();
      continue;
    }
    const auto time = fs::last_write_time(it->path()).time_since_epoch().count();
    listing[relative] = (it->is_directory() ? std::string("dir") : std::to_string(it->file_size())) + " @" +
                        std::to_string(time);
  }
  return listing;
}

class VerifyHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    root_ = fs::temp_directory_path() /
            ("ark-verify-" + std::to_string(::getpid()) + "-" + info->test_suite_name() + "-" + info->name());
    fs::remove_all(root_);
    fs::create_directories(root_ / "E");
    fs::create_directories(root_ / "Windows");
    fs::create_directories(root_ / "reports");
    platform::SetHostRoot(root_.string());
    platform::RegSetString("SYSTEM\\CurrentControlSet\\Control\\Session Manager\\DOS Devices",
                           "E:", (root_ / "E").string());
    platform::RegSetString("SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName", "ComputerName",
                           "HOST1");
    platform::WritePrivateProfileString("NOTES", "CHANGE_INFO_DIR", "E:\\ledger", "C:\\Windows\\ark.ini");
    platform::RegSetString(kReportFolderKey, kReportFolderValue, "C:\\reports");
    component_ = std::make_unique<FakeComponent>();
    ClearReportText();

    server_.commonName = "srv1";
    server_.serverName = "srv1/Org";
    server_.dataDirectory = "E:\\Domino\\Data";
    server_.logDirectory = "E:\\Domino\\Logs";
    server_.dataVolume.driveLetter = u'E';
    server_.archiveLogging = 1;
    server_.loggingStyle = 1;

    // Newest first, as the storage lists them.
    AddSnapshot(kSnapC, Hours(48), 46, {43, 44, 45});
    AddSnapshot(kSnapB, Hours(24), 43, {40, 41, 42});
    AddSnapshot(kSnapA, Hours(0), 40, {38, 39});
  }
  void TearDown() override {
    component_.reset();
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  // A snapshot on the storage and a sound ArkLedger directory beside it.
  void AddSnapshot(const std::string& name, FILETIME created, unsigned hint, std::vector<unsigned> logs,
                   const std::string& series = kSeries) {
    component_->state().Add(u'E', name, created);
    WriteLedger(name, hint, logs, series);
  }
  void WriteLedger(const std::string& name, unsigned hint, std::vector<unsigned> logs,
                   const std::string& series = kSeries) {
    WriteHostFile(Ledger(name) / "Domino/Data/names.nsf.dat", ChangeInfo(3, 3));
    WriteHostFile(Ledger(name) / "Domino/Data/mail/jo.nsf.dat", ChangeInfo(70000, 70000));
    WriteHostFile(Ledger(name) / "Domino/Data/pubnames.ntf.dat", ChangeInfo(0, 0));
    WriteHostFile(Ledger(name) / "Domino/Data/mail/in.box.dat", ChangeInfo(12, 12));
    WriteHostFile(Ledger(name) / "log_hint", std::to_string(hint) + "\r\n" + series);
    WriteHostFile(Ledger(name) / "disabled_databases", "");
    for (unsigned n : logs) WriteHostFile(Ledger(name) / "logs" / LogName(n), "log " + std::to_string(n));
  }

  fs::path Ledger(const std::string& name) const { return root_ / "E" / "ledger" / "srv1" / name; }

  // Runs the verification; its text is in text_.
  std::vector<SnapshotVerdict> Verify(const std::string& name) {
    OutputSink sink;
    std::vector<SnapshotVerdict> verdicts = VerifySnapshots(sink, server_, name);
    text_ = sink.accumulated;
    return verdicts;
  }
  // The verdict lines at the end of the text, in order.
  std::vector<std::string> VerdictLines(const std::vector<SnapshotVerdict>& verdicts) const {
    std::vector<std::string> lines;
    for (const SnapshotVerdict& v : verdicts) lines.push_back(v.Line());
    return lines;
  }
  bool Says(const std::string& piece) const { return text_.find(piece) != std::string::npos; }

  fs::path root_;
  std::unique_ptr<FakeComponent> component_;
  ::testing::StrictMock<MockDominoApi> domino_;  // any call fails the test
  DominoServerInfo server_;
  std::string text_;
};

}  // namespace verifytest
