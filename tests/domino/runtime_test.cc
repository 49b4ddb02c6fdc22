// Starting the Domino API runtime and the readers that use it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "domino/settings.h"
#include "tests/support/mock_domino_api.h"

using ::testing::_;
using ::testing::InSequence;
using ::testing::Invoke;
using ::testing::Return;
using ::testing::StrictMock;

namespace {

// Records each InitRuntime call's arguments as texts ("<null>" for null).
struct InitCall {
  int argc;
  std::vector<std::string> argv;
};

auto Recorder(std::vector<InitCall>& calls, std::vector<STATUS> results) {
  return [&calls, results](int argc, char** argv) {
    InitCall call{argc, {}};
    if (argv == nullptr) call.argv.push_back("<no list>");
    for (int i = 0; argv != nullptr && i < argc; ++i) {
      call.argv.push_back(argv[i] == nullptr ? "<null>" : argv[i]);
    }
    calls.push_back(call);
    return results[calls.size() - 1];
  };
}

TEST(RuntimeTest, StartRestartsOnceWhenTheFirstStartSucceeds) {
  StrictMock<MockDominoApi> api;
  std::vector<InitCall> calls;
  {
    InSequence order;
    EXPECT_CALL(api, InitRuntime(2, _)).WillOnce(Invoke(Recorder(calls, {0, 0x0102})));
    EXPECT_CALL(api, TermRuntime());
    EXPECT_CALL(api, InitRuntime(2, _)).WillOnce(Invoke(Recorder(calls, {0, 0x0102})));
  }
  EXPECT_EQ(StartDominoRuntime("D:\\Lotus\\Domino\\notes.ini"), 0x0102);
  ASSERT_EQ(calls.size(), 2u);
  for (const InitCall& call : calls) {
    EXPECT_EQ(call.argv, (std::vector<std::string>{"<null>", "=D:\\Lotus\\Domino\\notes.ini"}));
  }
}

TEST(RuntimeTest, StartWithoutPathAndFailedFirstStart) {
  StrictMock<MockDominoApi> api;
  std::vector<InitCall> calls;
  {
    InSequence order;
    EXPECT_CALL(api, InitRuntime(0, nullptr)).WillOnce(Invoke(Recorder(calls, {0, 0})));
    EXPECT_CALL(api, TermRuntime());
    EXPECT_CALL(api, InitRuntime(0, nullptr)).WillOnce(Invoke(Recorder(calls, {0, 0})));
  }
  EXPECT_EQ(StartDominoRuntime(""), 0);

  // A failed first start is not retried and its status is the result.
  std::vector<InitCall> failed;
  EXPECT_CALL(api, InitRuntime(2, _)).WillOnce(Invoke(Recorder(failed, {0x0103})));
  EXPECT_EQ(StartDominoRuntime("D:\\missing\\notes.ini"), 0x0103);

  // A long path reaches the runtime whole, never cut to another file's name.
  const std::string longPath = "D:\\" + std::string(300, 'n') + "\\notes.ini";
  std::vector<InitCall> longCalls;
  EXPECT_CALL(api, InitRuntime(2, _)).WillOnce(Invoke(Recorder(longCalls, {0x0103})));
  StartDominoRuntime(longPath);
  ASSERT_EQ(longCalls.size(), 1u);
  EXPECT_EQ(longCalls[0].argv[1], "=" + longPath);
}

TEST(RuntimeTest, ServerNameIsAbbreviated) {
  StrictMock<MockDominoApi> api;
  EXPECT_CALL(api, GetServerName(_)).WillRepeatedly(Invoke([](char* buffer) {
    std::strcpy(buffer, "CN=srv1/O=Org");
    return STATUS(0);
  }));
  EXPECT_CALL(api, AbbreviateName(0, 0, _, _, 256, _))
      .WillOnce(Invoke([](DWORD, DWORD, const char* name, char* out, WORD, WORD* length) {
        EXPECT_STREQ(name, "CN=srv1/O=Org");
        std::strcpy(out, "srv1/Org");
        *length = 8;
        return STATUS(0);
      }))
      .WillOnce(Return(STATUS(0x0104)));
  std::string name;
  ReadServerName(name);
  EXPECT_EQ(name, "srv1/Org");
  ReadServerName(name);
  EXPECT_EQ(name, "CN=srv1/O=Org") << "a failed abbreviation keeps the name as read";
}

TEST(RuntimeTest, LoggingStyleIsTheStatusWhenThereIsOne) {
  StrictMock<MockDominoApi> api;
  EXPECT_CALL(api, GetLoggingStyle(_))
      .WillOnce(Invoke([](DWORD* style) {
        *style = 1;
        return STATUS(0);
      }))
      .WillOnce(Invoke([](DWORD* style) {
        *style = 0;
        return STATUS(0);
      }))
      .WillOnce(Return(ERR_LOGGING_DISABLED));
  EXPECT_EQ(ReadLoggingStyle(), 1);
  EXPECT_EQ(ReadLoggingStyle(), 0);
  EXPECT_EQ(ReadLoggingStyle(), ERR_LOGGING_DISABLED);
}

TEST(RuntimeTest, WithoutAnInstalledRuntimeEveryCallFails) {
  SetDominoApi(nullptr);
  EXPECT_EQ(StartDominoRuntime("D:\\notes.ini"), ERR_NO_RUNTIME);
  EXPECT_EQ(ReadLoggingStyle(), ERR_NO_RUNTIME);
  std::string name = "stale";
  ReadServerName(name);
  EXPECT_EQ(name, "");
  char text[64];
  Domino().GetErrorText(0, ERR_NO_RUNTIME & ERR_MASK, text, sizeof text);
  EXPECT_STREQ(text, "Domino runtime not installed");
  char small[8];
  EXPECT_EQ(Domino().GetErrorText(0, ERR_NO_RUNTIME, small, sizeof small), 7);
  EXPECT_STREQ(small, "Domino ");
  DBHANDLE handle = 0;
  EXPECT_EQ(Domino().OpenDatabase("D:\\x.nsf", &handle), ERR_NO_RUNTIME);
  {
    MockDominoApi mock;
    EXPECT_EQ(&Domino(), &mock);
  }
  EXPECT_EQ(Domino().OpenDatabase("D:\\x.nsf", &handle), ERR_NO_RUNTIME);
}

}  // namespace
