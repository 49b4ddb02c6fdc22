#include "platform/stdout_capture.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace platform {
namespace {

TEST(StdoutCapture, ForwardsEverythingInSmallPiecesInOrder) {
  std::mutex mutex;
  std::vector<std::string> pieces;
  std::atomic<bool> afterStop{false};
  bool calledAfterStop = false;
  {
    StdoutCapture capture;
    ASSERT_TRUE(capture.Start([&](std::string_view piece) {
      std::lock_guard<std::mutex> lock(mutex);
      if (afterStop) calledAfterStop = true;
      pieces.emplace_back(piece);
    }));
    EXPECT_TRUE(capture.active());
    EXPECT_FALSE(capture.Start(nullptr));  // one capture at a time
    std::string text;
    for (int i = 0; i < 600; ++i) text += static_cast<char>('a' + i % 26);
    std::printf("%s", text.c_str());              // through the C stream
    ASSERT_EQ(::write(STDOUT_FILENO, "|direct", 7), 7);  // and the descriptor
    ASSERT_TRUE(capture.Stop());
    afterStop = true;
    EXPECT_FALSE(capture.active());

    // Stop returned only after the worker forwarded everything.
    std::string all;
    for (const std::string& p : pieces) {
      EXPECT_LE(p.size(), StdoutCapture::kPieceSize);
      all += p;
    }
    EXPECT_EQ(all, text + "|direct");
    EXPECT_GE(pieces.size(), 3u);
  }
  EXPECT_FALSE(calledAfterStop);

  // Standard output works again and a new capture can start.
  StdoutCapture again;
  std::string got;
  ASSERT_TRUE(again.Start([&](std::string_view piece) { got += piece; }));
  std::printf("second");
  again.Stop();
  EXPECT_EQ(got, "second");
}

TEST(StdoutCapture, WorksWhenTheProcessHasNoStandardOutput) {
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(STDOUT_FILENO);
    std::string got;
    StdoutCapture capture;
    if (!capture.Start([&](std::string_view piece) { got += piece; })) ::_exit(1);
    std::printf("text");
    if (!capture.Stop()) ::_exit(2);
    // Descriptor 1 is open again (on /dev/null) and nothing was lost.
    ::_exit(got == "text" && ::fcntl(STDOUT_FILENO, F_GETFD) >= 0 ? 0 : 3);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace platform
