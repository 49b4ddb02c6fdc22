// Copy, move, replacement and tree deletion by Windows path (the tree
// removal itself is the toolkit's).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/files.h"
#include "platform/host.h"
#include "platform/posix/file_copy.h"
#include "platform/posix/flush.h"
#include "platform/shared/flush_override.h"
#include "platform/kit/errno_map.h"
#include "platform/kit/file_io.h"
#include "platform/kit/temp_file.h"
#include "platform/kit/unique_fd.h"

namespace platform {
namespace posix {
using kit::CopyFileData;
using kit::ERROR_NOT_SAME_DEVICE;
using kit::ParentDirectory;
using kit::PathRole;
using kit::RenameNoReplace;
using kit::TempFile;
using kit::UniqueFd;
using kit::Win32FromErrno;

DWORD CopyHostFile(const std::string& from, const std::string& to, bool failIfExists) {
  UniqueFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (!in.valid()) return Win32FromErrno(errno, from);
  struct stat st {};
  if (::fstat(in.get(), &st) != 0) return Win32FromErrno(errno, from);
  if (S_ISDIR(st.st_mode)) return ERROR_ACCESS_DENIED;
  struct stat target {};
  if (::stat(to.c_str(), &target) == 0) {
    if (failIfExists) return ERROR_FILE_EXISTS;
    if (S_ISDIR(target.st_mode) || (target.st_mode & 0222) == 0) return ERROR_ACCESS_DENIED;
  }
  TempFile temp;
  int err = temp.Create(to, st.st_mode & 07777);
  if (err == 0) err = CopyFileData(in.get(), temp.fd(), true);
  if (err == 0 && ::fchmod(temp.fd(), st.st_mode & 07777) != 0) err = errno;
  if (err == 0) {
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (::futimens(temp.fd(), times) != 0) err = errno;
  }
  if (err == 0) err = temp.Commit(to, failIfExists);
  if (err != 0) return Win32FromErrno(err, to, PathRole::File);
  return ERROR_SUCCESS;
}

DWORD MoveHostFile(const std::string& from, const std::string& to) {
  const int err = RenameNoReplace(from, to);
  if (err == 0) return ERROR_SUCCESS;
  struct stat st {};
  if (err == EXDEV) {
    // Another file system: a file is copied (never replacing) and then
    // removed; Windows moves no directory across volumes either.
    if (::lstat(from.c_str(), &st) != 0) return Win32FromErrno(errno, from);
    if (S_ISDIR(st.st_mode)) return ERROR_NOT_SAME_DEVICE;
    if (::lstat(to.c_str(), &st) == 0) return ERROR_ALREADY_EXISTS;
    const DWORD copied = CopyHostFile(from, to, true);
    if (copied == ERROR_FILE_EXISTS) return ERROR_ALREADY_EXISTS;
    if (copied != ERROR_SUCCESS) return copied;
    if (::unlink(from.c_str()) != 0) return Win32FromErrno(errno, from);
    return ERROR_SUCCESS;
  }
  if (err == ENOENT && ::lstat(from.c_str(), &st) != 0) return Win32FromErrno(ENOENT, from);
  if (err == ENOENT) return ERROR_PATH_NOT_FOUND;  // the target's directory is missing
  return Win32FromErrno(err, to, PathRole::Directory);
}

namespace {

// A flush of the open file fd (or, with directory, of the directory that
// holds target), answered by a FlushOverride when one lives and winPath
// names the file.
DWORD Flush(int fd, const std::string& target, const std::string& winPath, bool directory) {
  if (!winPath.empty()) {
    DWORD answer = ERROR_SUCCESS;
    if (shared::FlushOverridden(directory ? shared::WinDirName(winPath) : winPath, answer)) return answer;
  }
  return directory ? SyncHostDirectory(ParentDirectory(target)) : SyncDescriptor(fd);
}

}  // namespace

DWORD ReplaceFileContent(const std::string& hostPath, std::string_view data, bool durable,
                         const std::string& winPath) {
  // Writing through a symbolic link replaces the file it names.
  std::string target = hostPath;
  struct stat st {};
  mode_t mode = 0666;
  if (::lstat(hostPath.c_str(), &st) == 0) {
    if (S_ISLNK(st.st_mode)) {
      char resolved[PATH_MAX];
      if (::realpath(hostPath.c_str(), resolved) != nullptr) target = resolved;
      if (::stat(target.c_str(), &st) != 0) st.st_mode = S_IFREG | 0666;
    }
    if (S_ISDIR(st.st_mode)) return ERROR_ACCESS_DENIED;
  }
  const bool existed = ::stat(target.c_str(), &st) == 0;
  // A file without any write permission is read-only, as on Windows.
  if (existed && (st.st_mode & 0222) == 0) return ERROR_ACCESS_DENIED;
  TempFile temp;
  int err = temp.Create(target, mode);
  if (err == 0 && existed) err = ::fchmod(temp.fd(), st.st_mode & 07777) == 0 ? 0 : errno;
  if (err == 0) err = temp.WriteAll(data);
  if (err != 0) return Win32FromErrno(err, target);
  if (durable) {
    if (const DWORD flushed = Flush(temp.fd(), target, winPath, false); flushed != ERROR_SUCCESS) {
      return flushed;  // the old content stays
    }
  }
  err = temp.Commit(target, false);
  if (err != 0) return Win32FromErrno(err, target);
  // The new content is in place; only a flushed name makes it durable.
  return durable ? Flush(-1, target, winPath, true) : ERROR_SUCCESS;
}

}  // namespace posix

DWORD CopyFile(const std::string& from, const std::string& to, bool failIfExists) {
  std::string hostFrom, hostTo;
  if (const DWORD err = ToHostPath(from, hostFrom); err != ERROR_SUCCESS) return err;
  if (const DWORD err = ToHostPath(to, hostTo); err != ERROR_SUCCESS) return err;
  return posix::CopyHostFile(hostFrom, hostTo, failIfExists);
}

DWORD MoveFile(const std::string& from, const std::string& to) {
  std::string hostFrom, hostTo;
  if (const DWORD err = ToHostPath(from, hostFrom); err != ERROR_SUCCESS) return err;
  if (const DWORD err = ToHostPath(to, hostTo); err != ERROR_SUCCESS) return err;
  return posix::MoveHostFile(hostFrom, hostTo);
}

DWORD DeleteTree(const std::string& path) {
  std::string host;
  if (const DWORD err = ToHostPath(path, host); err != ERROR_SUCCESS) return err;
  const int err = kit::RemoveTree(host);
  return err == 0 ? ERROR_SUCCESS : kit::Win32FromErrno(err, host);
}

}  // namespace platform
