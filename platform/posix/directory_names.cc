// The fast directory listing for tree walks: names and the directory flag
// from the listing itself, a status call only where the listing cannot tell.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "platform/files.h"
#include "platform/host.h"
#include "platform/kit/errno_map.h"
#include "platform/kit/unique_fd.h"
#include "platform/text.h"

namespace platform {
namespace {

// Links and file systems that do not fill in the type need a status call;
// a link to a directory counts as a directory, as in FindFiles.
bool IsDirectory(int dirFd, const dirent& entry, bool* gone) {
  *gone = false;
  if (entry.d_type == DT_DIR) return true;
  if (entry.d_type != DT_UNKNOWN && entry.d_type != DT_LNK) return false;
  struct stat st {};
  if (::fstatat(dirFd, entry.d_name, &st, 0) != 0 &&
      ::fstatat(dirFd, entry.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
    *gone = true;  // removed while we listed
    return false;
  }
  return S_ISDIR(st.st_mode);
}

}  // namespace

DWORD ListDirectoryNames(const std::string& directory, std::vector<DirectoryName>& out) {
  out.clear();
  std::string dir;
  if (const DWORD err = ToHostPath(directory, dir); err != ERROR_SUCCESS) return err;
  kit::UniqueDir stream(::opendir(dir.c_str()));
  if (!stream.valid()) {
    if (errno == ENOENT || errno == ENOTDIR) return ERROR_PATH_NOT_FOUND;
    return kit::Win32FromErrno(errno, dir, kit::PathRole::Directory);
  }
  const int dirFd = ::dirfd(stream.get());
  // Sorted as FindFiles sorts (upper-cased names), with each key made once.
  std::vector<std::pair<std::string, DirectoryName>> keyed;
  while (true) {
    errno = 0;
    const dirent* entry = ::readdir(stream.get());
    if (entry == nullptr) {
      if (errno != 0) return kit::Win32FromErrno(errno, dir);
      break;
    }
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    bool gone = false;
    DirectoryName item;
    item.directory = IsDirectory(dirFd, *entry, &gone);
    if (gone) continue;
    item.name = std::string(name);
    keyed.emplace_back(ToUpperAnsi(name), std::move(item));
  }
  std::sort(keyed.begin(), keyed.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  out.reserve(keyed.size());
  for (auto& [key, item] : keyed) out.push_back(std::move(item));
  return ERROR_SUCCESS;
}

}  // namespace platform
