#include "snapshotsvc/tree_ops.h"

#include <btrfsutil.h>
#include <fcntl.h>
#include <linux/btrfs.h>
#include <linux/magic.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/kit/errno_map.h"
#include "platform/kit/file_io.h"
#include "platform/kit/unique_fd.h"

namespace snapshotsvc {
namespace {

using platform::kit::UniqueFd;

constexpr ino_t kBtrfsSubvolumeRootInode = 256;

// Trees are folders: an existing name is ERROR_ALREADY_EXISTS.
HRESULT FromResult(int err) {
  return platform::kit::HresultFromResult(err, platform::kit::PathRole::Directory);
}
// The failure of the call that just failed (never S_OK, even without errno).
HRESULT LastError() {
  return platform::kit::HresultFromErrno(errno, platform::kit::PathRole::Directory);
}

// Reads a directory's entry names so that the caller may change the
// directory while walking the list.
HRESULT ReadNames(int dirFd, std::vector<std::string>& names) {
  return FromResult(platform::kit::ListNamesAt(dirFd, names));
}

struct CloneContext {
  bool tryReflink = true;
  CloneStats stats;
};

// Owner first (chown clears set-id bits), then mode, then times.
HRESULT CopyAttributes(int fd, const struct stat& st) {
  if (::fchown(fd, st.st_uid, st.st_gid) != 0 && errno != EPERM) return LastError();
  if (::fchmod(fd, st.st_mode & 07777) != 0) return LastError();
  const timespec times[2] = {st.st_atim, st.st_mtim};
  if (::futimens(fd, times) != 0) return LastError();
  return S_OK;
}

HRESULT CloneFile(int srcDir, int dstDir, const char* name, const struct stat& st,
                  CloneContext& ctx) {
  UniqueFd src(::openat(srcDir, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (!src.valid()) return LastError();
  UniqueFd dst(::openat(dstDir, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!dst.valid()) return LastError();
  bool shared = false;
  const int err = platform::kit::CopyFileData(src.get(), dst.get(), ctx.tryReflink, &shared, &ctx.tryReflink);
  if (err != 0) return FromResult(err);
  if (shared) ++ctx.stats.reflinked;
  ++ctx.stats.files;
  ctx.stats.bytes += std::uint64_t(st.st_size);
  HRESULT hr = CopyAttributes(dst.get(), st);
  if (FAILED(hr)) return hr;
  return FromResult(dst.Close());
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
  if (!dst.valid()) return LastError();
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
      if (!child.valid()) return LastError();
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

// The root directory of a btrfs subvolume: removed with the subvolume call,
// along with the subvolumes nested inside it.
bool IsSubvolumeRoot(int dirFd) {
  struct stat st;
  return ::fstat(dirFd, &st) == 0 && st.st_ino == kBtrfsSubvolumeRootInode && FdOnBtrfs(dirFd);
}

int DeleteSubvolumeAt(int parentFd, const char* name) {
  errno = 0;
  if (btrfs_util_delete_subvolume_fd(parentFd, name, 0) == BTRFS_UTIL_OK) return 0;
  if (errno == ENOTEMPTY) {  // subvolumes nested inside it
    errno = 0;
    if (btrfs_util_delete_subvolume_fd(parentFd, name, BTRFS_UTIL_DELETE_SUBVOLUME_RECURSIVE) ==
        BTRFS_UTIL_OK) {
      return 0;
    }
  }
  return errno != 0 ? errno : EIO;  // a failure that left no errno is still one
}

}  // namespace

HRESULT CloneTree(const std::string& source, const std::string& target, CloneStats* stats) {
  UniqueFd src(::open(source.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!src.valid()) return LastError();
  struct stat st;
  if (::fstat(src.get(), &st) != 0) return LastError();
  std::string parent, name;
  platform::kit::SplitPath(target, parent, name);
  UniqueFd parentFd(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!parentFd.valid()) return LastError();
  CloneContext ctx;
  HRESULT hr = CloneDirectory(src.get(), st, parentFd.get(), name.c_str(), ctx);
  if (stats != nullptr) *stats = ctx.stats;
  return hr;
}

HRESULT RemoveTree(const std::string& path) {
  static const platform::kit::WholeDirectories subvolumes{IsSubvolumeRoot, DeleteSubvolumeAt};
  const int err = platform::kit::RemoveTree(path, &subvolumes);
  return err == ENOENT ? S_OK : FromResult(err);
}

namespace {

std::uint64_t WholeBlocks(std::uint64_t bytes, std::uint64_t block) { return (bytes + block - 1) / block * block; }

HRESULT AddCost(int dirFd, std::uint64_t block, bool shared, std::uint64_t& bytes) {
  std::vector<std::string> names;
  HRESULT hr = ReadNames(dirFd, names);
  bytes += block;
  for (const std::string& name : names) {
    if (FAILED(hr)) break;
    struct stat st;
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return LastError();
    if (S_ISDIR(st.st_mode)) {
      UniqueFd child(::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      hr = child.valid() ? AddCost(child.get(), block, shared, bytes) : LastError();
    } else if (S_ISREG(st.st_mode)) {
      if (!shared) bytes += WholeBlocks(std::uint64_t(st.st_size), block);
    } else if (S_ISLNK(st.st_mode)) {
      bytes += block;
    }
  }
  return hr;
}

}  // namespace

namespace {

// Both open directories lie on one btrfs file system: the same file
// system's id, whatever subvolume each is in (every subvolume has a device
// number of its own).
bool OnOneBtrfs(int a, int b) {
  if (!FdOnBtrfs(a) || !FdOnBtrfs(b)) return false;
  btrfs_ioctl_fs_info_args first {}, second {};
  return ::ioctl(a, BTRFS_IOC_FS_INFO, &first) == 0 && ::ioctl(b, BTRFS_IOC_FS_INFO, &second) == 0 &&
         std::memcmp(first.fsid, second.fsid, sizeof first.fsid) == 0;
}

}  // namespace

HRESULT CloneCost(const std::string& source, const std::string& targetDir, std::uint64_t& bytes) {
  bytes = 0;
  UniqueFd src(::open(source.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!src.valid()) return LastError();
  UniqueFd dst(::open(targetDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dst.valid()) return LastError();
  struct statvfs fs;
  if (::fstatvfs(dst.get(), &fs) != 0) return LastError();
  // Extents are shared within one btrfs file system, across its subvolumes
  // too (other file systems that can are counted as copies: more than they
  // take, never less).
  const bool shared = OnOneBtrfs(src.get(), dst.get());
  return AddCost(src.get(), fs.f_frsize > 0 ? fs.f_frsize : 4096, shared, bytes);
}

HRESULT FreeBytes(const std::string& path, std::uint64_t& bytes) {
  struct statvfs fs;
  if (::statvfs(path.c_str(), &fs) != 0) return LastError();
  bytes = std::uint64_t(fs.f_bavail) * fs.f_frsize;
  return S_OK;
}

HRESULT SyncFileSystem(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return LastError();
  if (::syncfs(fd.get()) != 0) return LastError();
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
