#include "platform/stdout_capture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/os_calls.h"

namespace platform {
namespace {

TEST(StdoutCapture, ForwardsEverythingInSmallPiecesInOrder) {
  std::mutex mutex;
  std::vector<std::string> pieces;
  {
    StdoutCapture capture;
    ASSERT_TRUE(capture.Start([&](std::string_view piece) {
      std::lock_guard<std::mutex> lock(mutex);
      pieces.emplace_back(piece);
    }));
    EXPECT_TRUE(capture.active());
    EXPECT_FALSE(capture.Start(nullptr));  // one capture at a time
    std::string text;
    for (int i = 0; i < 600; ++i) text += static_cast<char>('a' + i % 26);
    std::printf("%s", text.c_str());         // through the C stream
    WriteStandardOutputDirectly("|direct");  // and below it
    ASSERT_TRUE(capture.Stop());
    EXPECT_FALSE(capture.active());

    // Stop returned only after the worker forwarded everything, and nothing
    // comes after it.
    std::lock_guard<std::mutex> lock(mutex);
    std::string all;
    for (const std::string& p : pieces) {
      EXPECT_LE(p.size(), StdoutCapture::kPieceSize);
      all += p;
    }
    EXPECT_EQ(all, text + "|direct");
    EXPECT_GE(pieces.size(), 3u);
    pieces.clear();
  }
  EXPECT_TRUE(pieces.empty());

  // Standard output works again and a new capture can start.
  StdoutCapture again;
  std::string got;
  ASSERT_TRUE(again.Start([&](std::string_view piece) { got += piece; }));
  std::printf("second");
  again.Stop();
  EXPECT_EQ(got, "second");
}

// A service starts without a standard output.
TEST(StdoutCapture, WorksWhenTheProcessHasNoStandardOutput) {
  ChildProcess child(ProgramBesideTest("test_helper"), {"capture-unattached"});
  EXPECT_EQ(child.Wait(), 0) << "1: no start, 2: no stop, 3: text lost";
}

}  // namespace
}  // namespace platform
