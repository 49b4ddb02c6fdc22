// The operation lock: one holder, within the process and across processes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "output/operation_lock.h"
#include "output/output.h"
#include "tests/output/temp_host_root.h"

namespace {

const std::string kHeld = "ERROR: ARK backup or restore in progress (probably a scheduled event).\r\n";

// Runs AcquireOperationLock in a child process; true when the child got it.
bool ChildAcquires() {
  pid_t pid = ::fork();
  if (pid == 0) {
    OutputSink sink;
    platform::OperationLockHandle handle = AcquireOperationLock(sink);
    ::_exit(handle.valid() ? 0 : 1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(OperationLockTest, OneHolderWithinTheProcess) {
  TempHostRoot root("oplock");
  ClearReportText();
  OutputSink sink;
  platform::OperationLockHandle first = AcquireOperationLock(sink);
  ASSERT_TRUE(first.valid());
  EXPECT_EQ(sink.accumulated, "");

  // Not re-entrant: the holder's own second attempt fails with the message once.
  platform::OperationLockHandle second = AcquireOperationLock(sink);
  EXPECT_FALSE(second.valid());
  EXPECT_EQ(sink.accumulated, kHeld);
  EXPECT_EQ(ReportText(), kHeld);

  first.Close();
  platform::OperationLockHandle third = AcquireOperationLock(sink);
  EXPECT_TRUE(third.valid());
  EXPECT_EQ(sink.accumulated, kHeld);

  // Leaving the scope of a holder releases the lock too.
  { platform::OperationLockHandle moved = std::move(third); }
  platform::OperationLockHandle fourth = AcquireOperationLock(sink);
  EXPECT_TRUE(fourth.valid());
  ClearReportText();
}

TEST(OperationLockTest, HeldAcrossProcesses) {
  TempHostRoot root("oplock");
  OutputSink sink;
  {
    platform::OperationLockHandle held = AcquireOperationLock(sink);
    ASSERT_TRUE(held.valid());
    EXPECT_FALSE(ChildAcquires()) << "another process took a held lock";
  }
  EXPECT_TRUE(ChildAcquires()) << "the lock stayed taken after its holder closed it";

  // A holder that dies without closing releases it.
  pid_t pid = ::fork();
  if (pid == 0) {
    OutputSink childSink;
    platform::OperationLockHandle handle = AcquireOperationLock(childSink);
    if (!handle.valid()) ::_exit(1);
    ::_exit(0);  // no destructor runs
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  platform::OperationLockHandle after = AcquireOperationLock(sink);
  EXPECT_TRUE(after.valid());
  ClearReportText();
}

}  // namespace
