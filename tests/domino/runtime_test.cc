// Starting the Domino API runtime and the readers that use it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "domino/runtime.h"
#include "domino/settings.h"
#include "tests/support/mock_domino_api.h"

using ::testing::_;
using ::testing::InSequence;
using ::testing::Invoke;
using ::testing::Return;
using ::testing::StrictMock;

namespace {

// An InitRuntime that records its arguments as "argc:argv0,argv1" and
// answers the given status.
auto RecordInit(std::vector<std::string>& calls, STATUS status) {
  return [&calls, status](int argc, char** argv) {
    std::string call = std::to_string(argc) + ":" + (argv == nullptr ? "<no list>" : "");
    for (int i = 0; argv != nullptr && i < argc; ++i) {
      call += std::string(i ? "," : "") + (argv[i] == nullptr ? "<null>" : argv[i]);
    }
    calls.push_back(call);
    return status;
  };
}

TEST(RuntimeTest, StartRestartsOnceAfterASuccessfulFirstStart) {
  StrictMock<MockDominoApi> api;
  std::vector<std::string> calls;
  {
    InSequence order;
    EXPECT_CALL(api, InitRuntime(_, _)).WillOnce(Invoke(RecordInit(calls, 0)));
    EXPECT_CALL(api, TermRuntime());
    EXPECT_CALL(api, InitRuntime(_, _)).WillOnce(Invoke(RecordInit(calls, 0x0102)));
    EXPECT_CALL(api, InitRuntime(_, _)).WillOnce(Invoke(RecordInit(calls, 0)));
    EXPECT_CALL(api, TermRuntime());
    EXPECT_CALL(api, InitRuntime(_, _)).WillOnce(Invoke(RecordInit(calls, 0)));
    EXPECT_CALL(api, InitRuntime(_, _)).WillOnce(Invoke(RecordInit(calls, 0x0103)));
  }
  EXPECT_EQ(StartDominoRuntime("D:\\Lotus\\notes.ini"), 0x0102) << "the last start's status";
  EXPECT_EQ(StartDominoRuntime(""), 0);
  const std::string longPath = "D:\\" + std::string(300, 'n') + "\\notes.ini";
  EXPECT_EQ(StartDominoRuntime(longPath), 0x0103) << "a failed first start is not retried";
  EXPECT_EQ(calls, (std::vector<std::string>{"2:<null>,=D:\\Lotus\\notes.ini",
                                             "2:<null>,=D:\\Lotus\\notes.ini", "0:<no list>",
                                             "0:<no list>", "2:<null>,=" + longPath}))
      << "a long path must reach the runtime whole, never cut to another file's name";
}

TEST(RuntimeTest, ServerNameAndLoggingStyle) {
  StrictMock<MockDominoApi> api;
  EXPECT_CALL(api, GetServerName(_)).Times(2).WillRepeatedly(Invoke([](char* buffer) {
    std::strcpy(buffer, "CN=srv1/O=Org");
    return STATUS(0);
  }));
  EXPECT_CALL(api, AbbreviateName(0, 0, _, _, 256, _))
      .WillOnce(Invoke([](DWORD, DWORD, const char* name, char* out, WORD, WORD* length) {
        EXPECT_STREQ(name, "CN=srv1/O=Org");
        *length = WORD(std::strlen(std::strcpy(out, "srv1/Org")));
        return STATUS(0);
      }))
      .WillOnce(Return(STATUS(0x0104)));
  std::string name;
  ReadServerName(name);
  EXPECT_EQ(name, "srv1/Org");
  ReadServerName(name);
  EXPECT_EQ(name, "CN=srv1/O=Org") << "a failed abbreviation keeps the name as read";

  EXPECT_CALL(api, GetLoggingStyle(_))
      .WillOnce(Invoke([](DWORD* style) { return *style = 1, STATUS(0); }))
      .WillOnce(Return(ERR_LOGGING_DISABLED));
  EXPECT_EQ(ReadLoggingStyle(), 1);
  EXPECT_EQ(ReadLoggingStyle(), ERR_LOGGING_DISABLED);
}

TEST(RuntimeTest, WithoutAnInstalledRuntimeEveryCallFails) {
  EXPECT_EQ(StartDominoRuntime("D:\\notes.ini"), ERR_NO_RUNTIME);
  std::string name = "stale";
  ReadServerName(name);
  EXPECT_EQ(name, "");
  char text[64], small[8];
  Domino().GetErrorText(0, ERR_NO_RUNTIME & ERR_MASK, text, sizeof text);
  EXPECT_STREQ(text, "Domino runtime not installed");
  EXPECT_EQ(Domino().GetErrorText(0, ERR_NO_RUNTIME, small, sizeof small), 7);
  EXPECT_STREQ(small, "Domino ");
}

}  // namespace
