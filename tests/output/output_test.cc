// Output: what reaches the client, the report text, the sink and the file.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "output/output.h"
#include "platform/host.h"
#include "tests/output/temp_host_root.h"
#include "tests/output/wire_reader.h"

namespace {

class OutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearStreamingConnection();
    ClearReportText();
    SetOutputSendTimeoutSeconds(45);
  }
  void TearDown() override {
    ClearStreamingConnection();
    ClearReportText();
    SetOutputSendTimeoutSeconds(45);
  }
};

std::string Slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST_F(OutputTest, WithoutStreamingTextStillCollectsInReportAndSink) {
  OutputSink sink;
  Output(sink, "first line\r\n");
  sink.message = "second\r\n";
  Output(sink);
  EXPECT_EQ(ReportText(), "first line\r\nsecond\r\n");
  EXPECT_EQ(sink.accumulated, "first line\r\nsecond\r\n");
  EXPECT_FALSE(StreamingFailed());

  // A second sink adds to the same report text but keeps its own accumulation.
  OutputSink other;
  Output(other, "other\r\n");
  EXPECT_EQ(ReportText(), "first line\r\nsecond\r\nother\r\n");
  EXPECT_EQ(other.accumulated, "other\r\n");
  ClearReportText();
  EXPECT_EQ(ReportText(), "");
}

TEST_F(OutputTest, EachMessageIsOneLengthPrefixedString) {
  SocketPair pair;
  SetStreamingConnection(pair.fd[0]);
  OutputSink sink;
  Output(sink, "");
  Output(sink, "done");
  ClearStreamingConnection();
  Output(sink, "not sent\r\n");  // after clearing: report only

  // Exactly these bytes and no more.
  const unsigned char expected[] = {0, 0, 0, 0, 4, 0, 0, 0, 'd', 'o', 'n', 'e'};
  unsigned char got[sizeof expected];
  ASSERT_TRUE(ReadExactly(pair.fd[1], got, sizeof got));
  EXPECT_EQ(0, std::memcmp(expected, got, sizeof expected));
  ::shutdown(pair.fd[0], SHUT_WR);
  char extra;
  EXPECT_EQ(0, ::read(pair.fd[1], &extra, 1));
  EXPECT_EQ(ReportText(), "donenot sent\r\n");
}

TEST_F(OutputTest, LargeMessageArrivesWholeWhileClientReadsSlowly) {
  SocketPair pair;
  int small = 4096;
  ::setsockopt(pair.fd[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  SetStreamingConnection(pair.fd[0]);
  std::string big(300000, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = char('a' + i % 23);
  std::string received;
  std::thread reader([&] { received = ReadWireString(pair.fd[1]).value_or("<lost>"); });
  OutputSink sink;
  Output(sink, big);
  reader.join();
  EXPECT_EQ(received, big);
  EXPECT_FALSE(StreamingFailed());
}

TEST_F(OutputTest, VanishedClientStopsStreamingButNothingElseIsLost) {
  SocketPair pair;
  SetStreamingConnection(pair.fd[0]);
  pair.CloseClient();
  OutputSink sink;
  EXPECT_NO_THROW(Output(sink, "one\r\n"));
  EXPECT_TRUE(StreamingFailed());
  EXPECT_NO_THROW(Output(sink, "two\r\n"));
  Output(sink, "three\r\n");
  EXPECT_TRUE(StreamingFailed());
  EXPECT_EQ(ReportText(), "one\r\ntwo\r\nthree\r\n");
  EXPECT_EQ(sink.accumulated, "one\r\ntwo\r\nthree\r\n");

  // Clearing keeps the failure visible; a new connection starts afresh.
  ClearStreamingConnection();
  EXPECT_TRUE(StreamingFailed());
  SocketPair next;
  SetStreamingConnection(next.fd[0]);
  EXPECT_FALSE(StreamingFailed());
  Output(sink, "four");
  EXPECT_EQ(ReadWireString(next.fd[1]).value_or("<lost>"), "four");
}

TEST_F(OutputTest, ClientThatStopsReadingTimesOutAndOperationGoesOn) {
  SocketPair pair;
  int small = 4096;
  ::setsockopt(pair.fd[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  ::setsockopt(pair.fd[1], SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  SetOutputSendTimeoutSeconds(1);
  SetStreamingConnection(pair.fd[0]);
  OutputSink sink;
  const std::string big(1 << 20, 'x');
  Output(sink, big);  // the client never reads: the send times out
  EXPECT_TRUE(StreamingFailed());
  Output(sink, "after\r\n");
  EXPECT_EQ(ReportText(), big + "after\r\n");
}

TEST_F(OutputTest, ConcurrentCallersNeverInterleaveBytes) {
  SocketPair pair;
  SetStreamingConnection(pair.fd[0]);
  constexpr int kPerThread = 300;
  auto message = [](char who, int i) {
    // Different lengths so that a torn frame cannot look whole.
    return std::string(1, who) + std::to_string(i) + ":" + std::string(std::size_t(i % 97) * 13, who) +
           "\r\n";
  };
  std::vector<std::string> received;
  std::thread reader([&] {
    for (int n = 0; n < 2 * kPerThread; ++n) {
      auto text = ReadWireString(pair.fd[1]);
      if (!text) break;
      received.push_back(*text);
    }
  });
  auto writer = [&](char who) {
    OutputSink sink;
    for (int i = 0; i < kPerThread; ++i) Output(sink, message(who, i));
  };
  std::thread a(writer, 'A');
  std::thread b(writer, 'B');
  a.join();
  b.join();
  reader.join();

  ASSERT_EQ(received.size(), std::size_t(2 * kPerThread));
  int nextA = 0, nextB = 0;
  std::string expectedReport;
  for (const std::string& text : received) {
    ASSERT_FALSE(text.empty());
    int& next = text[0] == 'A' ? nextA : nextB;
    ASSERT_EQ(text, message(text[0], next)) << "torn or out of order";
    ++next;
    expectedReport += text;
  }
  EXPECT_EQ(nextA, kPerThread);
  EXPECT_EQ(nextB, kPerThread);
  // The report text holds the messages in the same order as the wire.
  EXPECT_EQ(ReportText(), expectedReport);
  EXPECT_FALSE(StreamingFailed());
}

TEST_F(OutputTest, OutputFileBesideExecutableIsAppendedTo) {
  TempHostRoot root("output");
  const std::string module = platform::GetModuleFileName();
  const std::string winDir = module.substr(0, module.find_last_of('\\') + 1);
  std::string hostDir;
  ASSERT_EQ(platform::ToHostPath(winDir, hostDir), ERROR_SUCCESS) << winDir;
  std::filesystem::create_directories(hostDir);
  const auto file = std::filesystem::path(hostDir) / "ark_output.txt";
  std::filesystem::remove(file);

  OutputSink sink;
  sink.toFile = true;
  Output(sink, "line one\r\n");
  Output(sink, "line two\r\n");
  sink.toFile = false;
  Output(sink, "not in file\r\n");
  EXPECT_EQ(Slurp(file), "line one\r\nline two\r\n");
  std::filesystem::remove(file);

  // A directory that is missing: silently skipped, the rest goes on. (Only
  // removed when it lies inside this test's host root.)
  ASSERT_EQ(hostDir.rfind(root.path().string(), 0), 0u) << hostDir;
  std::filesystem::remove_all(hostDir);
  sink.toFile = true;
  EXPECT_NO_THROW(Output(sink, "lost quietly\r\n"));
  EXPECT_EQ(sink.accumulated, "line one\r\nline two\r\nnot in file\r\nlost quietly\r\n");
}

}  // namespace
