// The operation lock: one holder, within the process and across processes.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include "output/operation_lock.h"
#include "output/output.h"
#include "tests/output/test_helpers.h"

namespace {

// Runs AcquireOperationLock in a child process; true when the child got it.
bool ChildAcquires() {
  const pid_t pid = ::fork();
  if (pid == 0) {
    OutputSink sink;
    ::_exit(AcquireOperationLock(sink).valid() ? 0 : 1);  // dies holding it, no close
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(OperationLockTest, OneHolderAcrossThreadsAndProcesses) {
  TempHostRoot root;
  OutputSink sink;
  platform::OperationLockHandle first = AcquireOperationLock(sink);
  ASSERT_TRUE(first.valid());
  EXPECT_FALSE(AcquireOperationLock(sink).valid()) << "the lock is not re-entrant";
  EXPECT_FALSE(ChildAcquires()) << "another process took a held lock";
  EXPECT_EQ(sink.accumulated,
            "ERROR: ARK backup or restore in progress (probably a scheduled event).\r\n");

  first.Close();
  EXPECT_TRUE(ChildAcquires());
  EXPECT_TRUE(ChildAcquires()) << "a holder that died kept the lock";
  EXPECT_TRUE(AcquireOperationLock(sink).valid());
  EXPECT_EQ(sink.accumulated.size(), 72u) << "message output more than once";
}

}  // namespace
