#include "snapshotsvc/tree_ops.h"

#include <btrfsutil.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>
#include <vector>

#include "snapshotsvc/unique_fd.h"
#include "snapshotsvc/win32_errors.h"

namespace snapshotsvc {
namespace {

constexpr ino_t kBtrfsSubvolumeRootInode = 256;
constexpr std::size_t kCopyChunk = std::size_t(1) << 30;
constexpr std::size_t kBufferSize = std::size_t(1) << 20;

HRESULT LastError() { return HresultFromErrno(errno); }

bool IsDotOrDotDot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Reads a directory's entry names (without "." and "..") so that the caller
// may change the directory while walking the list.
HRESULT ReadNames(int dirFd, std::vector<std::string>& names) {
  int copy = ::dup(dirFd);
  if (copy < 0) return LastError();
  UniqueDir dir(::fdopendir(copy));
  if (!dir) {
    HRESULT hr = LastError();
    ::close(copy);
    return hr;
  }
  ::rewinddir(dir.get());
  for (;;) {
    errno = 0;
    dirent* entry = ::readdir(dir.get());
    if (entry == nullptr) {
      if (errno != 0) return LastError();
      return S_OK;
    }
    if (!IsDotOrDotDot(entry->d_name)) names.emplace_back(entry->d_name);
  }
}

struct CloneContext {
  bool tryReflink = true;
  CloneStats stats;
  std::vector<char> buffer;
};

// Owner first (chown clears set-id bits), then mode, then times.
HRESULT CopyAttributes(int fd, const struct stat& st) {
  if (::fchown(fd, st.st_uid, st.st_gid) != 0 && errno != EPERM) return LastError();
  if (::fchmod(fd, st.st_mode & 07777) != 0) return LastError();
  const timespec times[2] = {st.st_atim, st.st_mtim};
  if (::futimens(fd, times) != 0) return LastError();
  return S_OK;
}

bool ReflinkUnsupported(int err) {
  return err == EOPNOTSUPP || err == ENOTTY || err == EXDEV || err == ENOSYS || err == EINVAL ||
         err == EBADF;
}

HRESULT CopyByReadWrite(int src, int dst, CloneContext& ctx) {
  if (ctx.buffer.empty()) ctx.buffer.resize(kBufferSize);
  for (;;) {
    ssize_t got = ::read(src, ctx.buffer.data(), ctx.buffer.size());
    if (got < 0) {
      if (errno == EINTR) continue;
      return LastError();
    }
    if (got == 0) return S_OK;
    const char* p = ctx.buffer.data();
    while (got > 0) {
      ssize_t put = ::write(dst, p, std::size_t(got));
      if (put < 0) {
        if (errno == EINTR) continue;
        return LastError();
      }
      p += put;
      got -= put;
    }
  }
}

HRESULT CopyContent(int src, int dst, CloneContext& ctx) {
  bool copiedAny = false;
  for (;;) {
    ssize_t n = ::copy_file_range(src, nullptr, dst, nullptr, kCopyChunk, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (!copiedAny && (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP ||
                         errno == EINVAL)) {
        return CopyByReadWrite(src, dst, ctx);
      }
      return LastError();
    }
    if (n == 0) return S_OK;
    copiedAny = true;
  }
}

HRESULT CloneFile(int srcDir, int dstDir, const char* name, const struct stat& st,
                  CloneContext& ctx) {
  UniqueFd src(::openat(srcDir, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (!src) return LastError();
  UniqueFd dst(::openat(dstDir, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!dst) return LastError();
  bool cloned = false;
  if (ctx.tryReflink) {
    if (::ioctl(dst.get(), FICLONE, src.get()) == 0) {
      cloned = true;
      ++ctx.stats.reflinked;
    } else if (!ReflinkUnsupported(errno)) {
      return LastError();
    } else if (errno != EINVAL) {
      ctx.tryReflink = false;  // the file system cannot share extents: copy from now on
    }
  }
  if (!cloned) {
    HRESULT hr = CopyContent(src.get(), dst.get(), ctx);
    if (FAILED(hr)) return hr;
  }
  ++ctx.stats.files;
  ctx.stats.bytes += std::uint64_t(st.st_size);
  HRESULT hr = CopyAttributes(dst.get(), st);
  if (FAILED(hr)) return hr;
  if (dst.Close() != 0) return LastError();
  return S_OK;
}

HRESULT CloneSymlink(int srcDir, int dstDir, const char* name, const struct stat& st) {
  std::vector<char> target(std::size_t(st.st_size) + 2);
  for (;;) {
    ssize_t n = ::readlinkat(srcDir, name, target.data(), target.size());
    if (n < 0) return LastError();
    if (std::size_t(n) < target.size()) {
      target[std::size_t(n)] = '\0';
      break;
    }
    target.resize(target.size() * 2);  // the link changed size meanwhile
  }
  if (::symlinkat(target.data(), dstDir, name) != 0) return LastError();
  if (::fchownat(dstDir, name, st.st_uid, st.st_gid, AT_SYMLINK_NOFOLLOW) != 0 && errno != EPERM) {
    return LastError();
  }
  const timespec times[2] = {st.st_atim, st.st_mtim};
  if (::utimensat(dstDir, name, times, AT_SYMLINK_NOFOLLOW) != 0) return LastError();
  return S_OK;
}

HRESULT CloneDirectory(int srcFd, const struct stat& srcSt, int dstParent, const char* dstName,
                       CloneContext& ctx) {
  if (::mkdirat(dstParent, dstName, 0700) != 0) return LastError();
  UniqueFd dst(::openat(dstParent, dstName, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!dst) return LastError();
  std::vector<std::string> names;
  HRESULT hr = ReadNames(srcFd, names);
  if (FAILED(hr)) return hr;
  for (const std::string& name : names) {
    struct stat st;
    if (::fstatat(srcFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) continue;  // removed while we walked
      return LastError();
    }
    if (S_ISDIR(st.st_mode)) {
      UniqueFd child(::openat(srcFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (!child) return LastError();
      hr = CloneDirectory(child.get(), st, dst.get(), name.c_str(), ctx);
    } else if (S_ISREG(st.st_mode)) {
      hr = CloneFile(srcFd, dst.get(), name.c_str(), st, ctx);
    } else if (S_ISLNK(st.st_mode)) {
      hr = CloneSymlink(srcFd, dst.get(), name.c_str(), st);
    } else {
      hr = S_OK;
    }
    if (FAILED(hr)) return hr;
  }
  // Times last: creating the entries above changed the directory's times.
  return CopyAttributes(dst.get(), srcSt);
}

bool FdOnBtrfs(int fd) {
  struct statfs fs;
  return ::fstatfs(fd, &fs) == 0 && fs.f_type == BTRFS_SUPER_MAGIC;
}

HRESULT DeleteSubvolumeAt(int parentFd, const char* name) {
  errno = 0;
  if (btrfs_util_delete_subvolume_fd(parentFd, name, 0) == BTRFS_UTIL_OK) return S_OK;
  if (errno == ENOTEMPTY) {  // subvolumes nested inside it
    errno = 0;
    if (btrfs_util_delete_subvolume_fd(parentFd, name, BTRFS_UTIL_DELETE_SUBVOLUME_RECURSIVE) ==
        BTRFS_UTIL_OK) {
      return S_OK;
    }
  }
  return LastError();
}

HRESULT RemoveDirectoryContents(int dirFd);

HRESULT RemoveEntry(int parentFd, const char* name) {
  struct stat st;
  if (::fstatat(parentFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT ? S_OK : LastError();
  }
  if (!S_ISDIR(st.st_mode)) {
    if (::unlinkat(parentFd, name, 0) != 0 && errno != ENOENT) return LastError();
    return S_OK;
  }
  UniqueFd child(::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!child) return LastError();
  if (st.st_ino == kBtrfsSubvolumeRootInode && FdOnBtrfs(child.get())) {
    child.reset();
    return DeleteSubvolumeAt(parentFd, name);
  }
  HRESULT hr = RemoveDirectoryContents(child.get());
  if (FAILED(hr)) return hr;
  child.reset();
  if (::unlinkat(parentFd, name, AT_REMOVEDIR) != 0 && errno != ENOENT) return LastError();
  return S_OK;
}

HRESULT RemoveDirectoryContents(int dirFd) {
  std::vector<std::string> names;
  HRESULT hr = ReadNames(dirFd, names);
  if (FAILED(hr)) return hr;
  for (const std::string& name : names) {
    hr = RemoveEntry(dirFd, name.c_str());
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

}  // namespace

void SplitPath(const std::string& path, std::string& parent, std::string& name) {
  std::string_view trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.remove_suffix(1);
  const std::size_t slash = trimmed.rfind('/');
  if (slash == std::string_view::npos) {
    parent.assign(".");
    name.assign(trimmed);
  } else {
    parent.assign(slash == 0 ? std::string_view("/") : trimmed.substr(0, slash));
    name.assign(trimmed.substr(slash + 1));
  }
}

HRESULT CloneTree(const std::string& source, const std::string& target, CloneStats* stats) {
  UniqueFd src(::open(source.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!src) return LastError();
  struct stat st;
  if (::fstat(src.get(), &st) != 0) return LastError();
  std::string parent, name;
  SplitPath(target, parent, name);
  UniqueFd parentFd(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!parentFd) return LastError();
  CloneContext ctx;
  HRESULT hr = CloneDirectory(src.get(), st, parentFd.get(), name.c_str(), ctx);
  if (stats != nullptr) *stats = ctx.stats;
  return hr;
}

HRESULT RemoveTree(const std::string& path) {
  std::string parent, name;
  SplitPath(path, parent, name);
  UniqueFd parentFd(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!parentFd) return errno == ENOENT ? S_OK : LastError();
  return RemoveEntry(parentFd.get(), name.c_str());
}

HRESULT SyncFileSystem(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return LastError();
  if (::syncfs(fd.get()) != 0) return LastError();
  return S_OK;
}

HRESULT FsyncDirectory(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd) return LastError();
  if (::fsync(fd.get()) != 0) return LastError();
  return S_OK;
}

bool IsOnBtrfs(const std::string& path) {
  struct statfs fs;
  return ::statfs(path.c_str(), &fs) == 0 && fs.f_type == BTRFS_SUPER_MAGIC;
}

bool IsBtrfsSubvolume(const std::string& path) {
  return btrfs_util_is_subvolume(path.c_str()) == BTRFS_UTIL_OK;
}

}  // namespace snapshotsvc
