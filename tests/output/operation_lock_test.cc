// The operation lock: one holder, and its message when it is held (the lock
// across processes is the platform's, tested there).
#include <gtest/gtest.h>

#include "output/operation_lock.h"
#include "output/output.h"
#include "tests/output/test_helpers.h"

namespace {

TEST(OperationLockTest, OneHolderAndTheMessageOnce) {
  TempHostRoot root;
  OutputSink sink;
  platform::OperationLockHandle first = AcquireOperationLock(sink);
  ASSERT_TRUE(first.valid());
  EXPECT_FALSE(AcquireOperationLock(sink).valid()) << "the lock is not re-entrant";
  EXPECT_EQ(sink.accumulated,
            "ERROR: ARK backup or restore in progress (probably a scheduled event).\r\n");
  first.Close();
  EXPECT_TRUE(AcquireOperationLock(sink).valid());
  EXPECT_EQ(sink.accumulated.size(), 72u) << "message output more than once";
}

}  // namespace
