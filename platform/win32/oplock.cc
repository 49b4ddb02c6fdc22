// The machine-wide operation lock: a named pipe of one instance. Whoever
// creates it holds the lock until the handle is closed or the process ends.
// Any failure to create it counts as "held": Windows answers a second create
// with ERROR_ACCESS_DENIED, Wine (which ignores FILE_FLAG_FIRST_PIPE_INSTANCE)
// with ERROR_PIPE_BUSY thanks to the limit of one instance.
#include "platform/win32/windows_api.h"

namespace platform {

bool OperationLockHandle::Acquire(const std::string& name) {
  Close();
  const HANDLE pipe = ::CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                         PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 1, 16, 16,
                                         NMPWAIT_WAIT_FOREVER, nullptr);
  if (pipe == INVALID_HANDLE_VALUE) return false;
  handle_.reset(pipe);
  return true;
}

}  // namespace platform
