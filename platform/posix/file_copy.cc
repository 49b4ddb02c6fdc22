// Copy, move and tree deletion by Windows path.
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "platform/files.h"
#include "platform/host.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/file_copy.h"
#include "platform/posix/temp_file.h"
#include "platform/posix/unique_fd.h"

namespace platform {
namespace posix {
namespace {

// Copies the whole of in to out: a reflink where the file system shares
// extents, else copy_file_range (in-kernel, server-side where possible),
// else plain reads and writes. Returns an errno value.
int CopyContent(int in, int out, std::uint64_t size) {
  if (::ioctl(out, FICLONE, in) == 0) return 0;
  std::uint64_t done = 0;
  while (true) {
    const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, std::size_t{1} << 30, 0);
    if (n > 0) {
      done += static_cast<std::uint64_t>(n);
      continue;  // to the end of the file, even when it grew since fstat
    }
    if (n == 0 && (done > 0 || size > 0)) return 0;
    if (n < 0 && errno == EINTR) continue;
    // Nothing copied yet: the kernel cannot copy these files (another file
    // system type, or a pseudo file that reports no size), so read and write.
    if (n < 0 && (done > 0 || (errno != ENOSYS && errno != EXDEV && errno != EINVAL &&
                               errno != EOPNOTSUPP && errno != EBADF))) {
      return errno;
    }
    break;
  }
  static constexpr std::size_t kBuffer = 1 << 17;
  const std::unique_ptr<char[]> buffer = std::make_unique<char[]>(kBuffer);
  while (true) {
    const ssize_t n = ::read(in, buffer.get(), kBuffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return 0;
    std::size_t written = 0;
    while (written < static_cast<std::size_t>(n)) {
      const ssize_t w = ::write(out, buffer.get() + written, static_cast<std::size_t>(n) - written);
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) return errno;
      written += static_cast<std::size_t>(w);
    }
  }
}

// Deletes everything inside the directory open as dirFd; removes as much as
// it can and returns the first errno met.
int DeleteContents(int dirFd) {
  std::unique_ptr<DIR, int (*)(DIR*)> stream(::fdopendir(dirFd), ::closedir);
  if (!stream) {
    const int err = errno;
    ::close(dirFd);
    return err;
  }
  int firstError = 0;
  while (true) {
    errno = 0;
    const dirent* entry = ::readdir(stream.get());
    if (entry == nullptr) {
      if (errno != 0 && firstError == 0) firstError = errno;
      break;
    }
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      // Never follows a symbolic link: only what lies inside the tree goes.
      const int child = ::openat(dirFd, entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      int err = child < 0 ? errno : DeleteContents(child);
      if (err == 0 && ::unlinkat(dirFd, entry->d_name, AT_REMOVEDIR) != 0) err = errno;
      if (err != 0 && firstError == 0) firstError = err;
    } else if (::unlinkat(dirFd, entry->d_name, 0) != 0 && errno != ENOENT && firstError == 0) {
      firstError = errno;
    }
  }
  return firstError;
}

}  // namespace

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
  if (err == 0) err = CopyContent(in.get(), temp.fd(), static_cast<std::uint64_t>(st.st_size));
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
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    return ERROR_SUCCESS;
  }
  int err = errno;
  struct stat st {};
  if (err == EINVAL || err == ENOSYS) {
    // The file system cannot rename without replacing: link and unlink for
    // a file, check and rename for a directory.
    if (::lstat(from.c_str(), &st) != 0) return Win32FromErrno(errno, from);
    if (!S_ISDIR(st.st_mode)) {
      if (::link(from.c_str(), to.c_str()) != 0) return Win32FromErrno(errno, to, PathRole::Directory);
      ::unlink(from.c_str());
      return ERROR_SUCCESS;
    }
    if (::lstat(to.c_str(), &st) == 0) return ERROR_ALREADY_EXISTS;
    if (::rename(from.c_str(), to.c_str()) == 0) return ERROR_SUCCESS;
    err = errno;
  }
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

DWORD DeleteHostTree(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return Win32FromErrno(errno, path);
  if (!S_ISDIR(st.st_mode)) {
    return ::unlink(path.c_str()) == 0 ? ERROR_SUCCESS : Win32FromErrno(errno, path);
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return Win32FromErrno(errno, path);
  if (const int err = DeleteContents(fd); err != 0) return Win32FromErrno(err, path);
  if (::rmdir(path.c_str()) != 0) return Win32FromErrno(errno, path, PathRole::Directory);
  return ERROR_SUCCESS;
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
  return posix::DeleteHostTree(host);
}

}  // namespace platform
