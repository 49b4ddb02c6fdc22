// The freeze of a volume (a mapped drive) while the storage captures it.
// Writers that honour it (the simulated Domino server) hold a shared guard
// around every write that must be whole in a snapshot (a page and its log
// record); the storage holds the exclusive freeze while it captures the
// volume. Works across processes of one host root (a lock file per drive
// under the host root, flock; on Windows across the machine's processes, a
// lock file per drive in %ProgramData%\ark, LockFileEx), released when the
// holder ends or dies.
#pragma once

#include "platform/native_handle.h"

namespace platform {

class VolumeLock {
 public:
  enum class Kind { SharedWrite, ExclusiveFreeze };
  // Blocks until the lock of the drive is held; false when the lock file
  // cannot be opened.
  bool Lock(char driveLetter, Kind kind);
  void Unlock() { handle_.reset(); }
  bool held() const { return handle_.valid(); }

 private:
  NativeFile handle_;
};

}  // namespace platform
