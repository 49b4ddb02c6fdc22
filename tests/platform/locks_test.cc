#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/oplock.h"
#include "platform/volume_freeze.h"
#include "temp_root.h"

namespace platform {
namespace {

using testing::TempRoot;

constexpr char kLock[] = "\\\\.\\PIPE\\ark";

// Runs body in a child process and returns its exit code.
template <typename F>
int InChild(F body) {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(body());
  int status = -1;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(OperationLock, OneHolderInAndAcrossProcesses) {
  TempRoot root;
  OperationLockHandle first;
  ASSERT_TRUE(first.Acquire(kLock));
  // Not re-entrant: a second acquire in the same process fails.
  OperationLockHandle second;
  EXPECT_FALSE(second.Acquire(kLock));
  EXPECT_FALSE(second.valid());
  EXPECT_FALSE(second.Acquire("\\\\.\\pipe\\ARK"));  // names compare without case
  OperationLockHandle other;
  EXPECT_TRUE(other.Acquire("\\\\.\\PIPE\\other"));
  EXPECT_EQ(InChild([] { return OperationLockHandle().Acquire(kLock) ? 1 : 0; }), 0);

  // Moving keeps the lock; closing releases it.
  OperationLockHandle moved = std::move(first);
  EXPECT_FALSE(first.valid());
  EXPECT_FALSE(second.Acquire(kLock));
  moved.Close();
  EXPECT_EQ(InChild([] { return OperationLockHandle().Acquire(kLock) ? 1 : 0; }), 1);
  EXPECT_TRUE(second.Acquire(kLock));
  second.Close();

  // A holder that dies without closing releases it.
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t holder = ::fork();
  if (holder == 0) {
    OperationLockHandle held;
    const char c = held.Acquire(kLock) ? 'y' : 'n';
    (void)!::write(ready[1], &c, 1);
    ::pause();
    ::_exit(0);
  }
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, 'y');
  EXPECT_FALSE(second.Acquire(kLock));
  ::kill(holder, SIGKILL);
  ::waitpid(holder, nullptr, 0);
  EXPECT_TRUE(second.Acquire(kLock));
  ::close(ready[0]);
  ::close(ready[1]);
}

TEST(VolumeLock, FreezeWaitsForWritersAndWritersShare) {
  TempRoot root;
  // The freezing process is forked before any lock is taken here, so that
  // it holds no copy of this process's lock descriptions.
  int go[2], frozen[2];
  ASSERT_EQ(::pipe(go), 0);
  ASSERT_EQ(::pipe(frozen), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    char c;
    if (::read(go[0], &c, 1) != 1) ::_exit(1);
    VolumeLock freeze;
    c = freeze.Lock('D', VolumeLock::Kind::ExclusiveFreeze) ? 'y' : 'n';
    (void)!::write(frozen[1], &c, 1);
    ::_exit(0);
  }
  VolumeLock writer;
  ASSERT_TRUE(writer.Lock('d', VolumeLock::Kind::SharedWrite));
  // Another writer shares the volume.
  EXPECT_EQ(InChild([] { return VolumeLock().Lock('D', VolumeLock::Kind::SharedWrite) ? 1 : 0; }), 1);
  EXPECT_FALSE(VolumeLock().Lock('1', VolumeLock::Kind::SharedWrite));

  // The freeze waits until the writer is done.
  ASSERT_EQ(::write(go[1], "g", 1), 1);
  struct pollfd p = {frozen[0], POLLIN, 0};
  EXPECT_EQ(::poll(&p, 1, 300), 0) << "the freeze was granted while a writer held the volume";
  writer.Unlock();
  EXPECT_FALSE(writer.held());
  char c = 0;
  ASSERT_EQ(::read(frozen[0], &c, 1), 1);
  EXPECT_EQ(c, 'y');
  ::waitpid(child, nullptr, 0);
  for (int fd : {go[0], go[1], frozen[0], frozen[1]}) ::close(fd);
  // Other drives are independent.
  VolumeLock e;
  EXPECT_TRUE(e.Lock('E', VolumeLock::Kind::ExclusiveFreeze));
  EXPECT_EQ(InChild([] { return VolumeLock().Lock('F', VolumeLock::Kind::ExclusiveFreeze) ? 1 : 0; }), 1);
}

}  // namespace
}  // namespace platform
