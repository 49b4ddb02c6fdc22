// Flushing files and directories to the disk by Windows path, and the seam
// through which tests and benchmarks answer flushes instead of the disk.
#include "platform/posix/flush.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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
  // Writeback of every file starts before the first waits for its own, so
  // that one journal commit of the file system covers most of them.
  for (const std::string& path : paths) {
    if (DWORD answer = ERROR_SUCCESS; shared::FlushOverridden(path, answer)) continue;
    std::string host;
    if (ToHostPath(path, host) != ERROR_SUCCESS) continue;
    kit::UniqueFd fd(::open(host.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.valid()) ::sync_file_range(fd.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
  }
  for (const std::string& path : paths) {
    if (const DWORD error = FlushToDisk(path); error != ERROR_SUCCESS) {
      failedPath = path;
      return error;
    }
  }
  return ERROR_SUCCESS;
}

}  // namespace platform
