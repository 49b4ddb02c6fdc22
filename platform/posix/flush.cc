// Flushing files and directories to the disk by Windows path, and the seam
// through which tests and benchmarks answer flushes instead of the disk.
#include "platform/posix/flush.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/files.h"
#include "platform/host.h"
#include "platform/kit/errno_map.h"
#include "platform/kit/unique_fd.h"
#include "platform/shared/flush_override.h"

namespace platform {
namespace posix {
using kit::PathRole;
using kit::UniqueFd;
using kit::Win32FromErrno;

DWORD SyncDescriptor(int fd) {
  while (::fsync(fd) != 0) {
    const int err = errno;
    if (err == EINTR) continue;
    struct stat st {};
    if (err == EINVAL && ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) return ERROR_SUCCESS;
    return err == EIO ? ERROR_WRITE_FAULT : Win32FromErrno(err);
  }
  return ERROR_SUCCESS;
}

DWORD SyncHostDirectory(const std::string& hostPath) {
  UniqueFd fd(::open(hostPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid()) return Win32FromErrno(errno, hostPath, PathRole::Directory);
  return SyncDescriptor(fd.get());
}

}  // namespace posix

DWORD FlushToDisk(const std::string& path) {
  if (DWORD answer = ERROR_SUCCESS; shared::FlushOverridden(path, answer)) return answer;
  std::string host;
  if (const DWORD err = ToHostPath(path, host); err != ERROR_SUCCESS) return err;
  kit::UniqueFd fd(::open(host.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return kit::Win32FromErrno(errno, host);
  return posix::SyncDescriptor(fd.get());
}

DWORD FlushAllToDisk(const std::vector<std::string>& paths, std::string& failedPath) {
  // One syncfs per file system: it writes back every dirty file of it and
  // commits its journal once (the names of every directory with them),
  // where an fsync per path costs a journal commit each. A descriptor opened
  // now still reports a write-back error that nobody has seen yet.
  struct FileSystem {
    dev_t device;
    kit::UniqueFd fd;
    std::string firstPath;
  };
  std::vector<FileSystem> systems;
  for (const std::string& path : paths) {
    DWORD answer = ERROR_SUCCESS;
    if (!shared::FlushOverridden(path, answer)) {
      std::string host;
      answer = ToHostPath(path, host);
      struct stat st {};
      if (answer == ERROR_SUCCESS && ::stat(host.c_str(), &st) != 0) answer = kit::Win32FromErrno(errno, host);
      if (answer == ERROR_SUCCESS) {
        bool known = false;
        for (const FileSystem& system : systems) known = known || system.device == st.st_dev;
        if (!known) {
          kit::UniqueFd fd(::open(host.c_str(), O_RDONLY | O_CLOEXEC));
          if (fd.valid()) {
            systems.push_back(FileSystem{st.st_dev, std::move(fd), path});
          } else {
            answer = kit::Win32FromErrno(errno, host);
          }
        }
      }
    }
    if (answer != ERROR_SUCCESS) {
      failedPath = path;
      return answer;
    }
  }
  for (const FileSystem& system : systems) {
    while (::syncfs(system.fd.get()) != 0) {
      const int err = errno;
      if (err == EINTR) continue;
      failedPath = system.firstPath;
      return err == EIO ? ERROR_WRITE_FAULT : kit::Win32FromErrno(err);
    }
  }
  return ERROR_SUCCESS;
}

}  // namespace platform
