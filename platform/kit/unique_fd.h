// Owners of a POSIX file descriptor and of a directory stream, closed by the
// destructor.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace platform::kit {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() { return std::exchange(fd_, -1); }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  // Closes now and returns 0 or the errno value of close(2), which can report
  // a failed write-back. The descriptor is gone either way.
  int Close() {
    const int fd = release();
    return fd < 0 || ::close(fd) == 0 ? 0 : errno;
  }

 private:
  int fd_ = -1;
};

// A directory stream; closing it closes the descriptor it was opened on.
class UniqueDir {
 public:
  UniqueDir() = default;
  explicit UniqueDir(DIR* dir) : dir_(dir) {}
  ~UniqueDir() {
    if (dir_ != nullptr) ::closedir(dir_);
  }
  UniqueDir(UniqueDir&& other) noexcept : dir_(std::exchange(other.dir_, nullptr)) {}
  UniqueDir& operator=(UniqueDir&&) = delete;
  UniqueDir(const UniqueDir&) = delete;
  UniqueDir& operator=(const UniqueDir&) = delete;

  DIR* get() const { return dir_; }
  bool valid() const { return dir_ != nullptr; }

 private:
  DIR* dir_ = nullptr;
};

}  // namespace platform::kit
