// The machine-wide lock that keeps backups and restores of different
// processes apart.
#pragma once

#include "common/output_sink.h"
#include "platform/oplock.h"

constexpr const char* kOperationLockName = "\\\\.\\PIPE\\ark";

// Takes the lock; when it is held elsewhere, outputs
// "ERROR: ARK backup or restore in progress (probably a scheduled event).\r\n"
// through the sink and returns an invalid handle.
platform::OperationLockHandle AcquireOperationLock(OutputSink& sink);
