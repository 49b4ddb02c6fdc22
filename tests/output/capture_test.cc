// Capture of standard output: pieces of at most 256 bytes, in order, through
// the same output path.
#include <gtest/gtest.h>

#include <cstdio>

#include "output/output.h"
#include "output/redirect_stdout.h"
#include "tests/output/test_helpers.h"

namespace {

TEST(CaptureTest, LongPrintArrivesInOrderedPiecesAndTheEndIsFlagged) {
  ClearReportText();
  SocketPair pair;
  SetStreamingConnection(pair.service.get());
  std::string printed;
  for (int i = 0; i < 600; ++i) printed.push_back(char('A' + i % 26));
  OutputSink sink;
  {
    CRedirectStdout capture(&sink);
    ASSERT_TRUE(capture.started());
    std::fwrite(printed.data(), 1, printed.size(), stdout);
    std::printf("\r\nend\r\n");
  }
  ClearStreamingConnection();
  EXPECT_TRUE(sink.captureEnded);
  printed += "\r\nend\r\n";
  EXPECT_EQ(sink.accumulated, printed);
  EXPECT_EQ(ReportText(), printed);

  pair.service.reset();
  std::string joined;
  int pieces = 0;
  while (auto piece = ReadWireString(pair.client.get())) {
    EXPECT_LE(piece->size(), 256u);
    joined += *piece;
    ++pieces;
  }
  EXPECT_GE(pieces, 3);
  EXPECT_EQ(joined, printed);
}

TEST(CaptureTest, NoSinkDropsTextAndConsoleCopiesAreNotFedBack) {
  ClearReportText();
  {
    CRedirectStdout capture(nullptr);
    ASSERT_TRUE(capture.started());
    std::printf("dropped\n");
  }
  EXPECT_EQ(ReportText(), "");

  // With the console option on, the console is the capture pipe: each text
  // must still be output once, not loop back through the capture.
  OutputSink sink;
  sink.toConsole = true;
  {
    CRedirectStdout capture(&sink);
    ASSERT_TRUE(capture.started());
    std::printf("printed\n");
    Output(sink, "direct\n");
  }
  // Each once: the direct text whole, the printed one perhaps in pieces
  // around it (an unbuffered print may take several writes).
  std::string text = sink.accumulated;
  const auto direct = text.find("direct\n");
  ASSERT_NE(direct, std::string::npos) << text;
  EXPECT_EQ(text.erase(direct, 7), "printed\n") << sink.accumulated;
}

}  // namespace
