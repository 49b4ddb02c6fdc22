// Machine-wide operation lock (a named pipe of one instance on Windows): one
// holder; released when the handle is closed or the holder process dies.
#pragma once

#include <string>

namespace platform {

class OperationLockHandle {
 public:
  OperationLockHandle() = default;
  ~OperationLockHandle();
  OperationLockHandle(OperationLockHandle&& other) noexcept;
  OperationLockHandle& operator=(OperationLockHandle&& other) noexcept;
  OperationLockHandle(const OperationLockHandle&) = delete;
  OperationLockHandle& operator=(const OperationLockHandle&) = delete;

  // Takes the lock named name ("\\.\PIPE\ark"); false when it is held
  // elsewhere (by this process too: the lock is not re-entrant).
  bool Acquire(const std::string& name);
  bool valid() const { return fd_ >= 0; }
  void Close();

 private:
  int fd_ = -1;
};

}  // namespace platform
