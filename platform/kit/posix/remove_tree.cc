// Tree removal by descriptors: every step works on a directory that is held
// open, so a symbolic link or a rename meanwhile never leads out of the tree.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/kit/file_io.h"

namespace platform::kit {
namespace {

int RemoveEntry(int parentFd, const char* name, const WholeDirectories* whole);

// Removes everything in the directory open as dirFd; the names are read
// first, so that removing does not disturb the listing.
int RemoveContents(int dirFd, const WholeDirectories* whole) {
  std::vector<std::string> names;
  if (const int err = ListNamesAt(dirFd, names); err != 0) return err;
  int firstError = 0;
  for (const std::string& name : names) {
    const int err = RemoveEntry(dirFd, name.c_str(), whole);
    if (err != 0 && err != ENOENT && firstError == 0) firstError = err;
  }
  return firstError;
}

int RemoveEntry(int parentFd, const char* name, const WholeDirectories* whole) {
  struct stat st {};
  if (::fstatat(parentFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
  if (!S_ISDIR(st.st_mode)) return ::unlinkat(parentFd, name, 0) == 0 ? 0 : errno;
  UniqueFd dir(::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!dir.valid()) return errno;
  if (whole != nullptr && whole->is(dir.get())) {
    dir.reset();
    return whole->remove(parentFd, name);
  }
  if (const int err = RemoveContents(dir.get(), whole); err != 0) return err;
  dir.reset();
  return ::unlinkat(parentFd, name, AT_REMOVEDIR) == 0 ? 0 : errno;
}

}  // namespace

int RemoveTree(const std::string& path, const WholeDirectories* whole) {
  std::string parent, name;
  SplitPath(path, parent, name);
  UniqueFd parentFd(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!parentFd.valid()) return errno;
  return RemoveEntry(parentFd.get(), name.c_str(), whole);
}

}  // namespace platform::kit
