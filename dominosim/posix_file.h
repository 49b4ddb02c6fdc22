// Small POSIX file helpers of the simulated runtime: an owning descriptor,
// whole reads and writes at offsets, and flock guards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct iovec;

#include "platform/win_types.h"

namespace dominosim {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset(int fd = -1);

 private:
  int fd_ = -1;
};

// open(2) with O_CLOEXEC; on failure the descriptor is invalid and errno set.
UniqueFd OpenFile(const std::string& path, int flags, int mode = 0644);

// Whole transfers; return 0 or an errno value. A read that meets the end of
// the file early returns EIO unless *got is given (then the count read).
int PReadAll(int fd, void* buffer, std::size_t size, std::uint64_t offset, std::size_t* got = nullptr);
int PWriteAll(int fd, const void* buffer, std::size_t size, std::uint64_t offset);
int WriteAll(int fd, const void* buffer, std::size_t size);
// Gathered write of every byte of the pieces at offset.
int PWriteVAll(int fd, const struct iovec* pieces, int count, std::uint64_t offset);
int FileSize(int fd, std::uint64_t* size);

// Holds flock(2) on a descriptor for its lifetime (blocking; EINTR retried).
class FlockGuard {
 public:
  FlockGuard() = default;
  FlockGuard(int fd, bool exclusive) { Lock(fd, exclusive); }
  ~FlockGuard() { Unlock(); }
  FlockGuard(const FlockGuard&) = delete;
  FlockGuard& operator=(const FlockGuard&) = delete;
  bool Lock(int fd, bool exclusive);
  void Unlock();
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// A shared mapping of the first bytes of a file (at least `size` bytes must
// exist in the file); unmapped by the destructor. Other processes that map,
// read or write the same bytes see the same memory.
class SharedMapping {
 public:
  SharedMapping() = default;
  ~SharedMapping() { Reset(); }
  SharedMapping(const SharedMapping&) = delete;
  SharedMapping& operator=(const SharedMapping&) = delete;
  int Map(int fd, std::size_t size);  // 0 or errno
  void Reset();
  std::uint8_t* data() const { return data_; }
  bool valid() const { return data_ != nullptr; }

 private:
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

// Reads a whole file by host path into out; errno value or 0.
int ReadFileBytes(const std::string& path, std::string& out);
// Writes a whole file through a temporary beside it and a rename.
int WriteFileAtomically(const std::string& path, const void* data, std::size_t size);
bool PathExists(const std::string& path);
// mkdir -p; 0 or errno.
int MakeDirectories(const std::string& path);
std::string ParentDirectory(const std::string& path);

}  // namespace dominosim
