#include "platform/posix/temp_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "platform/posix/errno_map.h"
#include "platform/posix/flush.h"

namespace platform::posix {
namespace {

std::string BaseName(const std::string& hostPath) {
  const auto slash = hostPath.rfind('/');
  return slash == std::string::npos ? hostPath : hostPath.substr(slash + 1);
}

// A fresh hidden name beside the target: ".name.<pid>.<n>.tmp".
std::string TemporaryName(const std::string& dir, const std::string& base) {
  static std::atomic<unsigned> counter{0};
  char suffix[48];
  std::snprintf(suffix, sizeof suffix, ".%d.%u.tmp", static_cast<int>(::getpid()), counter++);
  return dir + "/." + base + suffix;
}

bool ProcFdUsable() {
  static const bool usable = ::access("/proc/self/fd", X_OK) == 0;
  return usable;
}

// The directory part of a Windows path, without its trailing separators.
std::string WinDirName(const std::string& winPath) {
  const std::size_t separator = winPath.find_last_of('\\');
  std::string dir = separator == std::string::npos ? std::string() : winPath.substr(0, separator);
  while (dir.size() > 1 && dir.back() == '\\') dir.pop_back();
  if (dir.size() == 2 && dir[1] == ':') dir += '\\';  // a drive's root
  return dir;
}

// A flush of the open file fd (or, with directory, of the directory that
// holds target), answered by a FlushOverride when one lives and winPath
// names the file.
DWORD Flush(int fd, const std::string& target, const std::string& winPath, bool directory) {
  if (!winPath.empty()) {
    DWORD answer = ERROR_SUCCESS;
    if (FlushOverridden(directory ? WinDirName(winPath) : winPath, answer)) return answer;
  }
  return directory ? SyncHostDirectory(HostDirName(target)) : SyncDescriptor(fd);
}

}  // namespace

std::string HostDirName(const std::string& hostPath) {
  const auto slash = hostPath.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : hostPath.substr(0, slash);
}

TempFile::~TempFile() {
  if (!name_.empty() && !committed_) ::unlink(name_.c_str());
}

int TempFile::Create(const std::string& target, mode_t mode) {
  dir_ = HostDirName(target);
  base_ = BaseName(target);
  if (ProcFdUsable()) {
    fd_.reset(::open(dir_.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode));
    if (fd_.valid()) return 0;
    // File systems without unnamed files answer EOPNOTSUPP (or EISDIR/EINVAL
    // on older kernels); anything else is a real failure.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return errno;
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = TemporaryName(dir_, base_);
    fd_.reset(::open(name.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, mode));
    if (fd_.valid()) {
      name_ = std::move(name);
      return 0;
    }
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
}

int TempFile::WriteAll(std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd_.get(), data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

int TempFile::LinkToName(const std::string& name) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd_.get());
  return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
}

int TempFile::Commit(const std::string& target, bool noReplace) {
  if (name_.empty()) {
    // An unnamed file: linking it fails when the target exists, which is
    // exactly the no-replace semantics.
    if (noReplace) {
      const int err = LinkToName(target);
      if (err == 0) committed_ = true;
      return err;
    }
    for (int attempt = 0; attempt < 100 && name_.empty(); ++attempt) {
      std::string name = TemporaryName(dir_, base_);
      const int err = LinkToName(name);
      if (err == 0) name_ = std::move(name);
      else if (err != EEXIST) return err;
    }
    if (name_.empty()) return EEXIST;
  }
  if (noReplace) {
    if (::renameat2(AT_FDCWD, name_.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
      committed_ = true;
      return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // No RENAME_NOREPLACE on this file system: a hard link is just as exclusive.
    if (::link(name_.c_str(), target.c_str()) != 0) return errno;
    ::unlink(name_.c_str());
    committed_ = true;
    return 0;
  }
  if (::rename(name_.c_str(), target.c_str()) != 0) return errno;
  committed_ = true;
  return 0;
}

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

}  // namespace platform::posix
