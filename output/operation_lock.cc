// The machine-wide lock that keeps backups and restores of different
// processes apart.
#include "output/operation_lock.h"

#include "output/output.h"

namespace ark {

namespace {

constexpr const char* kLockHeldMessage =
    "ERROR: ARK backup or restore in progress (probably a scheduled event).\r\n";

}  // namespace

platform::OperationLockHandle AcquireOperationLock(OutputSink& sink) {
  platform::OperationLockHandle handle;
  if (handle.Acquire(kOperationLockName)) return handle;
  // Any failure counts as the lock being held elsewhere.
  Output(sink, kLockHeldMessage);
  return platform::OperationLockHandle();
}

}  // namespace ark
