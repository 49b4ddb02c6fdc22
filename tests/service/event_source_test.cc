// The event source "arksvc": its registration beside the program, and a
// text in its message file for each category and for every event the
// service writes (on Windows the texts come from eventmsg.dll).
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/eventlog.h"
#include "platform/host.h"
#include "platform/registry.h"
#include "service/event_log.h"
#include "service/event_source.h"
#include "tests/support/temp_host.h"

namespace ark {

namespace {

constexpr const char* kSourceKey = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\arksvc";

const struct {
  DWORD id;
  std::vector<std::string> strings;
  const char* text;
} kEvents[] = {
    {0x40000065, {}, "The ARKServer service started."},
    {0x40000066, {}, "The ARKServer service stopped."},
    {0x4000006C, {"srv1/Org", "no space"}, "The backup of the Domino server srv1/Org failed: no space"},
    {0x4000006D, {"POINT IN TIME", "snap", "srv1", "locked"},
     "The POINT IN TIME restore of snapshot snap for the Domino server srv1 failed: locked"},
    {0x4000006F, {"UP TO THE MINUTE", "snap", "srv1"},
     "The UP TO THE MINUTE restore of snapshot snap for the Domino server srv1 succeeded."},
    {0x40000070, {"Unable to save Backup report.", "disk full"}, "Unable to save Backup report. disk full"},
    {0x40000071, {"dominosnap__H__srv1__recent", "D", "srv1/Org"},
     "Snapshot dominosnap__H__srv1__recent was created on drive D for the Domino server srv1/Org."},
    {0x40000072, {"10.0.0.9"}, "A client at 10.0.0.9 is not in ALLOWED_CLIENTS; its connection was closed."},
    {0x40000073, {"dominosnap__H__srv1__1-2-2026_03.04.05", "srv1/Org", "vol_data"},
     "Snapshot dominosnap__H__srv1__1-2-2026_03.04.05 of the Domino server srv1/Org on volume vol_data could not be "
     "deleted; it and its ArkLedger directory are kept."},
    {0x40000074, {"The POINT IN TIME restore of server srv1/Org ... was interrupted.", "L:\\k\\"},
     "The POINT IN TIME restore of server srv1/Org ... was interrupted. The active log files it kept across the revert "
     "are in L:\\k\\. Run that restore again."},
};

class EventSource : public ::testing::TestWithParam<std::size_t> {};

// Values left from an earlier start are replaced.
TEST_P(EventSource, EveryStartRegistersTheMessageFileWithATextPerEvent) {
  TempHostRoot root;
  ASSERT_EQ(platform::RegSetDword(kSourceKey, "CategoryCount", 9), 0);
  RegisterEventSource();
  const std::string module = platform::GetModuleFileName();
  const std::string expected = module.substr(0, module.rfind('\\') + 1) + "eventmsg.dll";
  EXPECT_EQ(MessageFilePath(), expected);
  std::vector<platform::RegValue> values = platform::RegEnumValues(kSourceKey);
  std::sort(values.begin(), values.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
  std::string got;
  for (const platform::RegValue& v : values) {
    got += v.name + (v.type == platform::RegType::Dword ? "=" + std::to_string(v.number) : "") +
           (v.type == platform::RegType::ExpandString ? "=%" + v.text : "") + ";";
  }
  EXPECT_EQ(got, "CategoryCount=3;CategoryMessageFile=%" + expected + ";EventMessageFile=%" + expected +
                     ";TypesSupported=7;");
  const char* const categories[] = {"Backup", "Restore", "Service"};
  for (WORD c = 1; c <= 3; ++c) EXPECT_EQ(platform::EventCategoryText(kEventSourceName, c), categories[c - 1]);
  const auto& event = kEvents[GetParam()];
  EXPECT_EQ(platform::EventMessageText(kEventSourceName, event.id, event.strings), event.text);
}
INSTANTIATE_TEST_SUITE_P(Rows, EventSource, ::testing::Range<std::size_t>(0, std::size(kEvents)));

}  // namespace

}  // namespace ark
