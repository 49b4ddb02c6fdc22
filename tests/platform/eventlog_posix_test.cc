// The event log of the POSIX layer: one line per event in
// DIR/Logs/Application.log.
#include <gtest/gtest.h>

#include <sstream>

#include "platform/eventlog.h"
#include "platform/host.h"
#include "tests/support/temp_host.h"

namespace platform {
namespace {

TEST(EventLogPosix, OneLinePerEventWithItsText) {
  TempHostRoot root;
  EXPECT_TRUE(ReportEvent("arksvc", EVENTLOG_INFORMATION_TYPE, 3, 0x40000065, {}));
  EXPECT_TRUE(ReportEvent("arksvc", EVENTLOG_INFORMATION_TYPE, 1, 0x40000071,
                          {"dominosnap__HOST__srv1__recent", "D", "srv1/Org"}));
  EXPECT_TRUE(ReportEvent("arksvc", EVENTLOG_ERROR_TYPE, 2, 0x4000006D,
                          {"POINT IN TIME", "snap", "srv1", "ERROR: first\r\nsecond\r\n"}));
  EXPECT_TRUE(ReportEvent("arksvc", EVENTLOG_WARNING_TYPE, 3, 0x40000999, {"a", "b"}));
  std::istringstream log(ReadHostFile(root.path() / "Logs" / "Application.log"));
  std::vector<std::string> lines;
  for (std::string line; std::getline(log, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_TRUE(lines[0].ends_with(
      " Information category 3 event 0x40000065 arksvc: The ARKServer service started."));
  EXPECT_TRUE(lines[1].ends_with(
      "Snapshot dominosnap__HOST__srv1__recent was created on drive D for the Domino server srv1/Org."));
  EXPECT_TRUE(lines[2].ends_with(
      " Error category 2 event 0x4000006D arksvc: The POINT IN TIME restore of snapshot snap for the "
      "Domino server srv1 failed: ERROR: first | second"));
  EXPECT_TRUE(lines[3].ends_with(" Warning category 3 event 0x40000999 arksvc: Event 0x40000999: a; b"));
  // A host root that cannot hold the log: the event is reported as not written.
  SetHostRoot((root.path() / "missing" / "root").string());
  EXPECT_FALSE(ReportEvent("arksvc", EVENTLOG_INFORMATION_TYPE, 3, 0x40000066, {}));
}

}  // namespace
}  // namespace platform
