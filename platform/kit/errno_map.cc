#include "platform/kit/errno_map.h"

#include <sys/stat.h>

#include <cerrno>

#include "platform/kit/file_io.h"

namespace platform::kit {
namespace {

bool ParentDirectoryExists(const std::string& hostPath) {
  struct stat st {};
  return ::stat(ParentDirectory(hostPath).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

DWORD Win32FromErrno(int err, const std::string& hostPath, PathRole role) {
  switch (err) {
    case 0:
      return ERROR_SUCCESS;
    case ENOENT:
      return hostPath.empty() || ParentDirectoryExists(hostPath) ? ERROR_FILE_NOT_FOUND
                                                                 : ERROR_PATH_NOT_FOUND;
    case ENOTDIR: {
      struct stat st {};
      if (!hostPath.empty() && ::stat(hostPath.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
        return ERROR_DIRECTORY;
      }
      return ERROR_PATH_NOT_FOUND;
    }
    case EACCES:
    case EPERM:
    case EISDIR:
      return ERROR_ACCESS_DENIED;
    case EROFS:
      return ERROR_WRITE_PROTECT;
    case EEXIST:
      return role == PathRole::Directory ? ERROR_ALREADY_EXISTS : ERROR_FILE_EXISTS;
    case ENOTEMPTY:
      return ERROR_DIR_NOT_EMPTY;
    case ENOSPC:
    case EDQUOT:
      return ERROR_DISK_FULL;
    case EFBIG:
      return ERROR_FILE_TOO_LARGE;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case ELOOP:
      return ERROR_INVALID_NAME;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EBUSY:
      return ERROR_BUSY;
    case ETXTBSY:
      return ERROR_SHARING_VIOLATION;
    case EXDEV:
      return ERROR_NOT_SAME_DEVICE;
    case EPIPE:
      return ERROR_BROKEN_PIPE;
    case EOPNOTSUPP:
    case ENOTTY:
    case ENOSYS:
      return ERROR_NOT_SUPPORTED;
    case EIO:
      return ERROR_WRITE_FAULT;
    default:
      return ERROR_GEN_FAILURE;
  }
}

HRESULT HresultFromErrno(int err, PathRole role) {
  return HRESULT_FROM_WIN32(err == 0 ? ERROR_GEN_FAILURE : Win32FromErrno(err, {}, role));
}

}  // namespace platform::kit
