// The parts of the toolkit's file helpers that are the same on every
// platform: built on the calls that posix/ and win32/ implement.
#include "platform/kit/file_io.h"

#include <fcntl.h>

#include <cerrno>

namespace platform::kit {

int ReadFileBytes(const std::string& path, std::string& out, std::size_t limit) {
  UniqueFd fd = OpenFile(path, O_RDONLY);
  if (!fd.valid()) return errno;
  return ReadAll(fd.get(), out, limit);
}

bool FlockGuard::Lock(int fd, bool exclusive) {
  Unlock();
  if (LockWait(fd, exclusive) != 0) return false;
  fd_ = fd;
  return true;
}

std::string ParentDirectory(const std::string& path) {
  std::string parent, name;
  SplitPath(path, parent, name);
  return parent;
}

}  // namespace platform::kit
