#include "platform/kit/temp_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

#include "platform/kit/file_io.h"

namespace platform::kit {
namespace {

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

}  // namespace

TempFile::~TempFile() {
  if (!name_.empty() && !committed_) ::unlink(name_.c_str());
}

int TempFile::Create(const std::string& target, mode_t mode) {
  SplitPath(target, dir_, base_);
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
  return kit::WriteAll(fd_.get(), data.data(), data.size());
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
    if (const int err = RenameNoReplace(name_, target); err != 0) return err;
    committed_ = true;
    return 0;
  }
  if (::rename(name_.c_str(), target.c_str()) != 0) return errno;
  committed_ = true;
  return 0;
}

}  // namespace platform::kit
