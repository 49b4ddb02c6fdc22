// The machine-wide lock that keeps backups and restores of different
// processes apart.
#pragma once

#include "common/output_sink.h"
#include "platform/oplock.h"

namespace ark {

constexpr const char* kOperationLockName = "\\\\.\\PIPE\\ark";

// Takes the lock and returns its handle, which holds it until the handle is
// closed or destroyed; nothing is output then. When it is held elsewhere (or
// cannot be taken at all; the lock is not re-entrant, so also when this
// process holds it), outputs
// "ERROR: ARK backup or restore in progress (probably a scheduled event).\r\n"
// through the sink and returns an invalid handle.
platform::OperationLockHandle AcquireOperationLock(OutputSink& sink);

}  // namespace ark
