// Capture of standard output: pieces of at most 256 bytes, in order, through
// the same output path.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "output/output.h"
#include "output/redirect_stdout.h"
#include "tests/output/wire_reader.h"

namespace {

TEST(CaptureTest, LongPrintArrivesInOrderedPiecesAndEndIsFlagged) {
  ClearReportText();
  SocketPair pair;
  SetStreamingConnection(pair.fd[0]);
  std::string printed;
  for (int i = 0; i < 600; ++i) printed.push_back(char('A' + i % 26));

  OutputSink sink;
  {
    CRedirectStdout capture(&sink);
    ASSERT_TRUE(capture.started());
    std::fwrite(printed.data(), 1, printed.size(), stdout);
    std::printf("%s", "\r\nafter\r\n");
  }
  ClearStreamingConnection();
  EXPECT_TRUE(sink.captureEnded);
  const std::string all = printed + "\r\nafter\r\n";
  EXPECT_EQ(sink.accumulated, all);
  EXPECT_EQ(ReportText(), all);

  // The client got the same bytes as strings of at most 256 bytes.
  ::shutdown(pair.fd[0], SHUT_WR);
  std::vector<std::string> pieces;
  while (auto piece = ReadWireString(pair.fd[1])) pieces.push_back(*piece);
  ASSERT_GE(pieces.size(), 3u);
  std::string joined;
  for (const std::string& piece : pieces) {
    EXPECT_LE(piece.size(), 256u);
    EXPECT_FALSE(piece.empty());
    joined += piece;
  }
  EXPECT_EQ(joined, all);
  ClearReportText();
}

TEST(CaptureTest, CaptureWithoutSinkDropsTextAndStdoutComesBack) {
  ClearReportText();
  {
    CRedirectStdout capture(nullptr);
    ASSERT_TRUE(capture.started());
    std::printf("dropped\n");
  }
  EXPECT_EQ(ReportText(), "");

  // A second capture after the first works the same (nothing left behind).
  OutputSink sink;
  {
    CRedirectStdout capture(&sink);
    ASSERT_TRUE(capture.started());
    std::printf("again\n");
  }
  EXPECT_EQ(sink.accumulated, "again\n");
  EXPECT_TRUE(sink.captureEnded);
  ClearReportText();
}

TEST(CaptureTest, ConsoleOutputDuringCaptureIsNotFedBack) {
  ClearReportText();
  OutputSink sink;
  sink.toConsole = true;
  {
    CRedirectStdout capture(&sink);
    ASSERT_TRUE(capture.started());
    std::printf("printed\n");
    Output(sink, "direct\n");
  }
  // Each text once: the console copy of a message must not come back in.
  const std::string text = sink.accumulated;
  EXPECT_EQ(text.size(), std::string("printed\ndirect\n").size());
  EXPECT_NE(text.find("printed\n"), std::string::npos);
  EXPECT_NE(text.find("direct\n"), std::string::npos);
  ClearReportText();
}

}  // namespace
