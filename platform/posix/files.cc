// Directory listing, attributes, directories, free space and file times by
// Windows path.
#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "platform/host.h"
#include "platform/posix/hostroot/case_names.h"
#include "platform/kit/errno_map.h"
#include "platform/kit/unique_fd.h"
#include "platform/posix/host_file_info.h"
#include "platform/shared/wildcard.h"
#include "platform/text.h"
#include "platform/shared/machine.h"

namespace platform {
namespace {

using kit::PathRole;
using kit::Win32FromErrno;

// NTFS lists names in upper-case order; "." and ".." come first.
std::string ListKey(std::string_view name) {
  if (name == ".") return std::string(1, '\0');
  if (name == "..") return std::string(2, '\0');
  return ToUpperAnsi(name);
}

DWORD StatWin(const std::string& path, struct stat& st, std::string* hostPath = nullptr) {
  std::string host;
  if (const DWORD err = ToHostPath(path, host); err != ERROR_SUCCESS) return err;
  if (::stat(host.c_str(), &st) != 0) return Win32FromErrno(errno, host);
  if (hostPath != nullptr) *hostPath = std::move(host);
  return ERROR_SUCCESS;
}

}  // namespace

DWORD FindFiles(const std::string& pattern, std::vector<FindData>& out) {
  out.clear();
  const auto sep = pattern.find_last_of("\\/");
  std::string dirPart, mask;
  if (sep != std::string::npos) {
    dirPart = pattern.substr(0, sep + 1);
    mask = pattern.substr(sep + 1);
  } else if (pattern.size() >= 2 && pattern[1] == ':') {
    dirPart = pattern.substr(0, 2);  // "D:*.nsf": the drive's root
    mask = pattern.substr(2);
  } else {
    return ERROR_PATH_NOT_FOUND;
  }
  if (mask.empty()) return ERROR_FILE_NOT_FOUND;
  std::string dir;
  if (const DWORD err = ToHostPath(dirPart, dir); err != ERROR_SUCCESS) return err;
  kit::UniqueDir stream(::opendir(dir.c_str()));
  if (!stream.valid()) {
    if (errno == ENOENT || errno == ENOTDIR) return ERROR_PATH_NOT_FOUND;
    return Win32FromErrno(errno, dir, PathRole::Directory);
  }
  const int dirFd = ::dirfd(stream.get());
  std::vector<std::pair<std::string, FindData>> keyed;  // each sort key made once
  while (true) {
    errno = 0;
    const dirent* entry = ::readdir(stream.get());
    if (entry == nullptr) {
      if (errno != 0) return Win32FromErrno(errno, dir);
      break;
    }
    const std::string_view name = entry->d_name;
    if (!shared::WildcardMatch(mask, name)) continue;
    struct stat st {};
    if (::fstatat(dirFd, entry->d_name, &st, 0) != 0 &&
        ::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      continue;  // removed while we listed
    }
    FindData data;
    data.name = std::string(name);
    data.attributes = posix::AttributesFromStat(st);
    data.lastWriteTime = posix::FileTimeFromTimespec(st.st_mtim);
    data.size = S_ISDIR(st.st_mode) ? 0 : static_cast<std::uint64_t>(st.st_size);
    keyed.emplace_back(ListKey(name), std::move(data));
  }
  std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  out.reserve(keyed.size());
  for (auto& [key, data] : keyed) out.push_back(std::move(data));
  return out.empty() ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
}

DWORD GetFileAttributes(const std::string& path) {
  struct stat st {};
  if (StatWin(path, st) != ERROR_SUCCESS) return INVALID_FILE_ATTRIBUTES;
  return posix::AttributesFromStat(st);
}

DWORD CreateDirectory(const std::string& path) {
  std::string host;
  if (const DWORD err = ToHostPath(path, host); err != ERROR_SUCCESS) return err;
  if (::mkdir(host.c_str(), 0777) != 0) {
    if (errno == ENOENT) return ERROR_PATH_NOT_FOUND;
    return Win32FromErrno(errno, host, PathRole::Directory);
  }
  posix::NoteCreatedName(host);
  return ERROR_SUCCESS;
}

DWORD RemoveDirectory(const std::string& path) {
  std::string host;
  if (const DWORD err = ToHostPath(path, host); err != ERROR_SUCCESS) return err;
  if (::rmdir(host.c_str()) != 0) {
    if (errno == EEXIST) return ERROR_DIR_NOT_EMPTY;
    return Win32FromErrno(errno, host, PathRole::Directory);
  }
  return ERROR_SUCCESS;
}

DWORD DeleteFile(const std::string& path) {
  std::string host;
  if (const DWORD err = ToHostPath(path, host); err != ERROR_SUCCESS) return err;
  struct stat st {};
  if (::lstat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return ERROR_ACCESS_DENIED;
  if (::unlink(host.c_str()) != 0) return Win32FromErrno(errno, host);
  return ERROR_SUCCESS;
}

DWORD machine::GetDiskFreeSpace(const std::string& path, std::uint64_t& freeBytes) {
  std::string host;
  if (const DWORD err = ToHostPath(path, host); err != ERROR_SUCCESS) return err;
  struct statvfs vfs {};
  if (::statvfs(host.c_str(), &vfs) != 0) {
    return errno == ENOENT ? ERROR_PATH_NOT_FOUND : Win32FromErrno(errno, host);
  }
  // All free blocks, not only those available to this user.
  freeBytes = static_cast<std::uint64_t>(vfs.f_bfree) * vfs.f_frsize;
  return ERROR_SUCCESS;
}

DWORD GetLastWriteTime(const std::string& path, FILETIME& out) {
  struct stat st {};
  if (const DWORD err = StatWin(path, st); err != ERROR_SUCCESS) return err;
  out = posix::FileTimeFromTimespec(st.st_mtim);
  return ERROR_SUCCESS;
}

DWORD GetFileSize(const std::string& path, std::uint64_t& size) {
  struct stat st {};
  if (const DWORD err = StatWin(path, st); err != ERROR_SUCCESS) return err;
  if (S_ISDIR(st.st_mode)) return ERROR_ACCESS_DENIED;
  size = static_cast<std::uint64_t>(st.st_size);
  return ERROR_SUCCESS;
}

std::uint64_t ReadAheadFile(const std::string& path, std::uint64_t maxBytes) {
  std::string host;
  if (ToHostPath(path, host) != ERROR_SUCCESS) return 0;
  kit::UniqueFd fd(::open(host.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st {};
  if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  const std::uint64_t bytes = std::min<std::uint64_t>(std::uint64_t(st.st_size), maxBytes);
  // The pages stay cached after the descriptor is closed.
  return ::posix_fadvise(fd.get(), 0, off_t(bytes), POSIX_FADV_WILLNEED) == 0 ? bytes : 0;
}

}  // namespace platform
