// The operation lock and the volume freeze, within this process and
// against other processes (the test helper holds them there).
#include <gtest/gtest.h>

#include "platform/oplock.h"
#include "platform/volume_freeze.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_host.h"

namespace platform {
namespace {

constexpr char kLock[] = "\\\\.\\PIPE\\ark";

std::string Helper() { return ProgramBesideTest("test_helper"); }

TEST(OperationLock, OneHolderInAndAcrossProcesses) {
  TempHostRoot root;
  OperationLockHandle first;
  ASSERT_TRUE(first.Acquire(kLock));
  // Not re-entrant: a second acquire in the same process fails.
  OperationLockHandle second;
  EXPECT_FALSE(second.Acquire(kLock));
  EXPECT_FALSE(second.valid());
  EXPECT_FALSE(second.Acquire("\\\\.\\pipe\\ARK"));  // names compare without case
  OperationLockHandle other;
  EXPECT_TRUE(other.Acquire("\\\\.\\PIPE\\other"));
  {
    ChildProcess elsewhere(Helper(), {"oplock", kLock});
    EXPECT_EQ(elsewhere.ReadLine(), "refused");
  }

  // Moving keeps the lock; closing releases it.
  OperationLockHandle moved = std::move(first);
  EXPECT_FALSE(first.valid());
  EXPECT_FALSE(second.Acquire(kLock));
  moved.Close();
  {
    // A holder that dies without closing releases it.
    ChildProcess holder(Helper(), {"oplock", kLock});
    ASSERT_EQ(holder.ReadLine(), "held");
    EXPECT_FALSE(second.Acquire(kLock));
    holder.Kill();
    holder.Wait();
  }
  EXPECT_TRUE(second.Acquire(kLock));
}

TEST(VolumeLock, FreezeWaitsForWritersAndWritersShare) {
  TempHostRoot root;
  VolumeLock writer;
  ASSERT_TRUE(writer.Lock('d', VolumeLock::Kind::SharedWrite));
  {
    ChildProcess otherWriter(Helper(), {"freeze", "D", "shared"});
    EXPECT_EQ(otherWriter.ReadLine(), "locked");
  }
  EXPECT_FALSE(VolumeLock().Lock('1', VolumeLock::Kind::SharedWrite));

  // The freeze waits until the writer is done.
  ChildProcess freeze(Helper(), {"freeze", "D", "exclusive"});
  EXPECT_EQ(freeze.ReadLine(300), "") << "the freeze was granted while a writer held the volume";
  writer.Unlock();
  EXPECT_FALSE(writer.held());
  EXPECT_EQ(freeze.ReadLine(), "locked");
  freeze.CloseInput();
  EXPECT_EQ(freeze.Wait(), 0);

  // Other drives are independent.
  VolumeLock e;
  EXPECT_TRUE(e.Lock('E', VolumeLock::Kind::ExclusiveFreeze));
  ChildProcess f(Helper(), {"freeze", "F", "exclusive"});
  EXPECT_EQ(f.ReadLine(), "locked");
}

}  // namespace
}  // namespace platform
