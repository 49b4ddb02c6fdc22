// Output: what reaches the client, the report text, the sink and the file.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "output/output.h"
#include "platform/host.h"
#include "tests/output/test_helpers.h"

namespace {

class OutputTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearReportText(); }
  void TearDown() override {
    ClearStreamingConnection();
    SetOutputSendTimeoutSeconds(45);
  }
  SocketPair pair_;
  OutputSink sink_;
};

TEST_F(OutputTest, EachMessageIsOneStringAndAlwaysReachesTheReport) {
  Output(sink_, "before\r\n");  // no streaming connection yet
  SetStreamingConnection(pair_.service.get());
  Output(sink_, "");
  sink_.message = "done";
  Output(sink_);
  ClearStreamingConnection();
  Output(sink_, "after\r\n");

  const std::string expected("\0\0\0\0\4\0\0\0done", 12);
  std::string got(12, '\0');
  ASSERT_TRUE(ReadExactly(pair_.client.get(), got.data(), got.size()));
  EXPECT_EQ(got, expected);
  pair_.service.reset();
  EXPECT_EQ(ReadWireString(pair_.client.get()), std::nullopt) << "bytes beyond the two strings";
  EXPECT_EQ(ReportText(), "before\r\ndoneafter\r\n");
  EXPECT_EQ(sink_.accumulated, "before\r\ndoneafter\r\n");
  EXPECT_FALSE(StreamingFailed());
}

TEST_F(OutputTest, LargeMessageArrivesWholeThroughASmallSendBuffer) {
  ShrinkSendBuffer(pair_.service.get());
  SetStreamingConnection(pair_.service.get());
  std::string big(300000, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = char('a' + i % 23);
  std::optional<std::string> received;
  std::thread reader([&] { received = ReadWireString(pair_.client.get()); });
  Output(sink_, big);
  reader.join();
  EXPECT_EQ(received, big);
}

TEST_F(OutputTest, LostClientStopsStreamingButTheRunAndItsReportGoOn) {
  SetStreamingConnection(pair_.service.get());
  AbortConnection(pair_.client);
  EXPECT_NO_THROW(Output(sink_, "one\r\n"));
  EXPECT_TRUE(StreamingFailed());
  Output(sink_, "two\r\n");
  EXPECT_EQ(ReportText(), "one\r\ntwo\r\n");
  ClearStreamingConnection();
  EXPECT_TRUE(StreamingFailed()) << "the session must still see the failure";
  // A further send to the reset connection fails again without a signal.
  SetStreamingConnection(pair_.service.get());
  Output(sink_, "three\r\n");
  EXPECT_TRUE(StreamingFailed());
  ClearStreamingConnection();

  // A client that stops reading: the send times out the same way.
  SocketPair stuck;
  ShrinkSendBuffer(stuck.service.get());
  SetOutputSendTimeoutSeconds(1);
  SetStreamingConnection(stuck.service.get());
  EXPECT_FALSE(StreamingFailed());
  Output(sink_, std::string(1 << 20, 'x'));
  EXPECT_TRUE(StreamingFailed());
  Output(sink_, "end\r\n");
  EXPECT_EQ(ReportText(), "one\r\ntwo\r\nthree\r\n" + std::string(1 << 20, 'x') + "end\r\n");
}

TEST_F(OutputTest, ConcurrentCallersNeverInterleaveBytes) {
  SetStreamingConnection(pair_.service.get());
  constexpr int kEach = 300;
  auto message = [](char who, int i) {  // lengths differ, so a torn string cannot look whole
    return std::string(1, who) + std::to_string(i) + std::string(std::size_t(i % 97) * 13, who);
  };
  std::vector<std::string> received;
  std::thread reader([&] {
    while (received.size() < 2 * kEach) {
      auto text = ReadWireString(pair_.client.get());
      if (!text) break;
      received.push_back(*text);
    }
  });
  auto writer = [&](char who) {
    OutputSink sink;
    for (int i = 0; i < kEach; ++i) Output(sink, message(who, i));
  };
  std::thread a(writer, 'A'), b(writer, 'B');
  a.join();
  b.join();
  reader.join();
  ASSERT_EQ(received.size(), std::size_t(2 * kEach));
  int next[2] = {0, 0};
  std::string wireOrder;
  for (const std::string& text : received) {
    ASSERT_EQ(text, message(text[0], next[text[0] == 'B']++)) << "torn or out of order";
    wireOrder += text;
  }
  EXPECT_EQ(ReportText(), wireOrder);
}

TEST_F(OutputTest, OutputFileBesideTheExecutableIsAppendedTo) {
  TempHostRoot root;
  const std::string module = platform::GetModuleFileName();
  std::string hostDir;
  ASSERT_EQ(platform::ToHostPath(module.substr(0, module.find_last_of('\\') + 1), hostDir), 0u);
  std::filesystem::create_directories(hostDir);
  const std::filesystem::path file = std::filesystem::path(hostDir) / "ark_output.txt";
  std::filesystem::remove_all(file);
  sink_.toFile = true;
  Output(sink_, "line one\r\n");
  Output(sink_, "line two\r\n");
  EXPECT_EQ(ReadHostFile(file), "line one\r\nline two\r\n");
  // A file that cannot be written (a folder stands in its place) is skipped.
  std::filesystem::remove(file);
  std::filesystem::create_directory(file);
  EXPECT_NO_THROW(Output(sink_, "file gone\r\n"));
  EXPECT_EQ(ReportText(), "line one\r\nline two\r\nfile gone\r\n");
  std::filesystem::remove(file);
}

}  // namespace
