// The machine-wide operation lock: an exclusive flock on a lock file named
// after the lock. Every Acquire opens the file anew, and locks of two open
// files conflict even within one process, so the lock is not re-entrant.
#include "platform/oplock.h"

#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/kit/file_io.h"
#include "platform/posix/lock_file.h"
#include "platform/text.h"

namespace platform {
namespace {

// "\\.\PIPE\ark" → "__._pipe_ark.lock": names compare without case, and
// only characters safe in a file name remain.
std::string LockFileName(const std::string& name) {
  std::string safe = ToLowerAnsi(name);
  for (char& c : safe) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-';
    if (!ok) c = '_';
  }
  if (safe.empty() || safe.find_first_not_of('.') == std::string::npos) safe = "_" + safe;
  return safe + ".lock";
}

}  // namespace

bool OperationLockHandle::Acquire(const std::string& name) {
  Close();
  NativeFile file(posix::OpenLockFile(LockFileName(name)));
  if (!file.valid() || kit::Flock(file.get(), LOCK_EX | LOCK_NB) != 0) return false;
  handle_ = std::move(file);
  return true;
}

}  // namespace platform
