// Volumes on POSIX: a drive is a host directory (through the host root's
// drive map), prepared as a plain directory or a btrfs subvolume; a restore
// stages the snapshot's copy beside it and swaps the two directories, or,
// when the directory is a mount point (which cannot be renamed), stages it
// inside and moves the entries (volume_revert.cc).
#include <btrfsutil.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/host.h"
#include "platform/kit/errno_map.h"
#include "platform/kit/file_io.h"
#include "snapshotsvc/configure.h"
#include "snapshotsvc/tree_ops.h"
#include "snapshotsvc/volume_backend.h"
#include "snapshotsvc/volume_target.h"

namespace snapshotsvc {
namespace {

using platform::kit::HresultFromErrno;

bool Fail(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
  return false;
}

std::string BtrfsText(btrfs_util_error code) {
  std::string text = btrfs_util_strerror(code);
  if (errno != 0) text += std::string(": ") + std::strerror(errno);
  return text;
}


bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// A file system of its own is mounted at path.
bool IsMountPoint(const std::string& path, const std::string& parent) {
  struct statx self;
  if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS, &self) == 0 &&
      (self.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0) {
    return (self.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
  }
  struct stat st, up;  // kernels before 5.8: another device than the parent's
  return ::stat(path.c_str(), &st) == 0 && ::stat(parent.c_str(), &up) == 0 && st.st_dev != up.st_dev;
}

}  // namespace

HRESULT SwapWithStaged(const VolumeTarget& volume) {
  const std::string staging = volume.StagingPath();
  if (::renameat2(AT_FDCWD, staging.c_str(), AT_FDCWD, volume.hostDir.c_str(),
                  RENAME_EXCHANGE) == 0) {
    return S_OK;
  }
  if (errno != EINVAL && errno != ENOSYS) return HresultFromErrno(errno);
  // A file system without exchange: set the old tree aside, move the new one
  // in. An interruption between the two is repaired by ResolveVolume.
  const std::string aside = volume.SetAsidePath();
  if (::rename(volume.hostDir.c_str(), aside.c_str()) != 0) return HresultFromErrno(errno);
  if (::rename(staging.c_str(), volume.hostDir.c_str()) != 0) {
    HRESULT hr = HresultFromErrno(errno);
    ::rename(aside.c_str(), volume.hostDir.c_str());
    return hr;
  }
  if (::rename(aside.c_str(), staging.c_str()) != 0) (void)RemoveTree(aside);
  return S_OK;
}

bool PrepareVolume(Backend backend, const std::string& hostDir, std::string* error) {
  if (backend == Backend::Dir) {
    std::error_code ec;
    std::filesystem::create_directories(hostDir, ec);
    if (ec) return Fail(error, "cannot create " + hostDir + ": " + ec.message());
    return true;
  }
  struct stat st;
  if (::lstat(hostDir.c_str(), &st) == 0) {
    if (IsBtrfsSubvolume(hostDir)) return true;  // prepared before
    return Fail(error, hostDir + " exists and is not a btrfs subvolume");
  }
  errno = 0;
  btrfs_util_error rc = btrfs_util_create_subvolume(hostDir.c_str(), 0, nullptr, nullptr);
  if (rc != BTRFS_UTIL_OK) {
    return Fail(error, "cannot create subvolume " + hostDir + ": " + BtrfsText(rc));
  }
  return true;
}

HRESULT ResolveVolume(const ComponentConfig& config, const std::u16string& drive,
                      VolumeTarget& out) {
  char letter = 0;
  if (HRESULT hr = DriveLetterOf(drive, letter); FAILED(hr)) return hr;
  if (!config.CarriesDrive(letter)) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
  std::string hostDir = platform::DriveHostDirectory(letter);
  while (hostDir.size() > 1 && hostDir.back() == '/') hostDir.pop_back();
  if (hostDir.empty() || hostDir == "/") return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);

  // The store's default place follows the drive's directory as mapped.
  std::string parentDir, baseName;
  platform::kit::SplitPath(hostDir, parentDir, baseName);
  const std::string storeBase =
      config.snapshotStore.empty() ? parentDir + "/.snapshots" : config.snapshotStore;
  // A drive's directory that is a link: the drive is the directory it leads
  // to. Swapped or staged beside, the link itself would be replaced by the
  // copy, leaving the drive's own directory (or file system) behind.
  struct stat st;
  if (::lstat(hostDir.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    std::error_code ec;
    const std::filesystem::path resolved = std::filesystem::canonical(hostDir, ec);
    if (ec) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    hostDir = resolved.string();
    platform::kit::SplitPath(hostDir, parentDir, baseName);
  }
  if (hostDir == "/") return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);

  VolumeTarget target;
  target.letter = letter;
  target.hostDir = hostDir;
  target.stageDir = parentDir;
  target.stageTag = baseName;
  // A restore that was cut short between setting the old tree aside and
  // moving the new one in: give the drive its old tree back.
  if (!Exists(hostDir) && platform::kit::IsDirectory(target.SetAsidePath())) {
    ::rename(target.SetAsidePath().c_str(), hostDir.c_str());
  }
  if (!platform::kit::IsDirectory(hostDir)) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
  if (IsMountPoint(hostDir, parentDir)) {
    target.insideVolume = true;
    target.stageDir = hostDir;
    target.stageTag.clear();
  }
  target.storeRoot = storeBase + "/" + std::string(1, letter);
  out = std::move(target);
  return S_OK;
}

}  // namespace snapshotsvc
