// The fixture of the snapshot tests: drive E: holding the ArkLedger
// (E:\ledger), computer name HOST1, reports in C:\reports, local time five
// hours behind UTC, the fake component, and server srv1 with data on E:.
#pragma once

#include <gtest/gtest.h>

#include "common/records.h"
#include "output/output.h"
#include "platform/clock.h"
#include "tests/support/fake_component.h"
#include "tests/support/temp_host.h"

namespace ark {

namespace fs = std::filesystem;

inline FILETIME Utc(int year, int month, int day, int hour, int minute, int second) {
  SYSTEMTIME t{};
  t.wYear = WORD(year), t.wMonth = WORD(month), t.wDay = WORD(day);
  t.wHour = WORD(hour), t.wMinute = WORD(minute), t.wSecond = WORD(second);
  FILETIME ft;
  EXPECT_TRUE(platform::SystemTimeToFileTime(t, ft));
  return ft;
}

// Names as this host gives them.
inline std::string Dated(const std::string& server, const std::string& stamp) {
  return "dominosnap__HOST1__" + server + "__" + stamp;
}
inline std::string Recent(const std::string& upperServer) { return "dominosnap__HOST1__" + upperServer + "__recent"; }

class SnapshotHostTest : public ::testing::Test {
 public:
  SnapshotHostTest() {
    ClearReportText();
    server_.commonName = "srv1";
    server_.serverName = "srv1/Org";
    server_.dataDirectory = "E:\\data";
    server_.dataVolume.driveLetter = u'E';
    server_.dataVolume.volumeName = "vol1";
  }
  // Whatever a test did, every interface and factory was given back.
  void TearDown() override {
    EXPECT_EQ(fake().liveInterfaces, 0);
    EXPECT_EQ(fake().liveFactories, 0);
  }

  FakeComponentState& fake() { return component_.state(); }
  fs::path Ledger(const std::string& name) const { return host_.Drive('E', "ledger/srv1/" + name); }
  const std::string& Said() const { return server_.output.accumulated; }

  TempHostRoot host_{HostOptions{"E", "HOST1", "E:\\ledger", "C:\\reports", "EST5"}};
  FakeComponent component_;
  DominoServerInfo server_;
};

}  // namespace ark
