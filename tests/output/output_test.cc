// Output: what reaches the client, the report text and the sink; and the
// capture of standard output through the same path.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <thread>
#include <vector>

#include "output/output.h"
#include "output/redirect_stdout.h"
#include "tests/support/loopback.h"
#include "tests/support/os_calls.h"

namespace ark {

using namespace nettest;

namespace {

// One wire string; none when the connection ends first.
std::optional<std::string> ReadWireString(platform::SOCKET s) {
  try {
    return RecvString(s);
  } catch (const WireError&) {
    return std::nullopt;
  }
}

class OutputTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearReportText(); }
  void TearDown() override {
    ClearStreamingConnection();
    SetOutputSendTimeoutSeconds(45);
  }
  LoopbackPair pair_ = MakeLoopbackPair();  // server: the service's end
  OutputSink sink_;
};

TEST_F(OutputTest, EachMessageIsOneStringAndAlwaysReachesTheReport) {
  Output(sink_, "before\r\n");  // no streaming connection yet
  SetStreamingConnection(pair_.server.get());
  Output(sink_, "");
  sink_.message = "done";
  Output(sink_);
  ClearStreamingConnection();
  Output(sink_, "after\r\n");

  pair_.server.reset();
  EXPECT_EQ(ReadRaw(pair_.client.get(), 13), std::string("\0\0\0\0\4\0\0\0done", 12));
  EXPECT_EQ(ReportText(), "before\r\ndoneafter\r\n");
  EXPECT_EQ(sink_.accumulated, "before\r\ndoneafter\r\n");
  EXPECT_FALSE(StreamingFailed());
}

TEST_F(OutputTest, LostClientStopsStreamingButTheRunAndItsReportGoOn) {
  SetStreamingConnection(pair_.server.get());
  AbortConnection(pair_.client);
  EXPECT_NO_THROW(Output(sink_, "one\r\n"));
  EXPECT_TRUE(StreamingFailed());
  Output(sink_, "two\r\n");
  ClearStreamingConnection();
  EXPECT_TRUE(StreamingFailed()) << "the session must still see the failure";

  // A client that stops reading: the send times out the same way.
  LoopbackPair stuck = MakeLoopbackPair();
  ShrinkSendBuffer(stuck.server.get());
  SetOutputSendTimeoutSeconds(1);
  SetStreamingConnection(stuck.server.get());
  EXPECT_FALSE(StreamingFailed());
  Output(sink_, std::string(1 << 20, 'x'));
  EXPECT_TRUE(StreamingFailed());
  Output(sink_, "end\r\n");
  EXPECT_EQ(ReportText(), "one\r\ntwo\r\n" + std::string(1 << 20, 'x') + "end\r\n");
}

// Through a small send buffer, so that sends are partial; the last message
// of each caller is large.
TEST_F(OutputTest, ConcurrentCallersNeverInterleaveBytes) {
  ShrinkSendBuffer(pair_.server.get());
  SetStreamingConnection(pair_.server.get());
  constexpr int kEach = 300;
  auto message = [](char who, int i) {  // lengths and bytes differ, so a torn string cannot look whole
    std::string text = std::string(1, who) + std::to_string(i);
    for (int j = 0, n = i + 1 == kEach ? 300000 : i % 97 * 13; j < n; ++j) text += char('a' + (who + j) % 23);
    return text;
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

// A long print arrives in ordered pieces of at most 256 bytes; the end of
// the capture is flagged. Without a sink the text is dropped.
TEST_F(OutputTest, CapturedPrintsArriveInOrderedPiecesOrAreDropped) {
  SetStreamingConnection(pair_.server.get());
  std::string printed;
  for (int i = 0; i < 600; ++i) printed.push_back(char('A' + i % 26));
  {
    CRedirectStdout capture(&sink_);
    ASSERT_TRUE(capture.started());
    std::fwrite(printed.data(), 1, printed.size(), stdout);
    std::printf("\r\nend\r\n");
  }
  ClearStreamingConnection();
  {
    CRedirectStdout capture(nullptr);
    ASSERT_TRUE(capture.started());
    std::printf("dropped\n");
  }
  EXPECT_TRUE(sink_.captureEnded);
  printed += "\r\nend\r\n";
  EXPECT_EQ(sink_.accumulated, printed);
  EXPECT_EQ(ReportText(), printed);

  pair_.server.reset();
  std::string joined;
  int pieces = 0;
  for (std::optional<std::string> piece; (piece = ReadWireString(pair_.client.get())); ++pieces) {
    EXPECT_LE(piece->size(), 256u);
    joined += *piece;
  }
  EXPECT_GE(pieces, 3);
  EXPECT_EQ(joined, printed);
}

}  // namespace

}  // namespace ark
