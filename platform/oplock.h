// Machine-wide operation lock (a named pipe of one instance on Windows): one
// holder; released when the handle is closed or the holder process dies.
#pragma once

#include <string>

#include "platform/native_handle.h"

namespace platform {

class OperationLockHandle {
 public:
  // Takes the lock named name ("\\.\PIPE\ark"); false when it is held
  // elsewhere (by this process too: the lock is not re-entrant).
  bool Acquire(const std::string& name);
  bool valid() const { return handle_.valid(); }
  void Close() { handle_.reset(); }

 private:
  NativeFile handle_;
};

}  // namespace platform
