#include "dominosim/posix_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace dominosim {

void UniqueFd::Reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

UniqueFd OpenFile(const std::string& path, int flags, int mode) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return UniqueFd(fd);
}

int PReadAll(int fd, void* buffer, std::size_t size, std::uint64_t offset, std::size_t* got) {
  auto* p = static_cast<char*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = ::pread(fd, p + done, size - done, off_t(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) break;
    done += std::size_t(n);
  }
  if (got != nullptr) {
    *got = done;
    return 0;
  }
  return done == size ? 0 : EIO;
}

int PWriteAll(int fd, const void* buffer, std::size_t size, std::uint64_t offset) {
  const auto* p = static_cast<const char*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = ::pwrite(fd, p + done, size - done, off_t(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    done += std::size_t(n);
  }
  return 0;
}

int PWriteVAll(int fd, const struct iovec* pieces, int count, std::uint64_t offset) {
  std::vector<struct iovec> rest(pieces, pieces + count);
  std::size_t first = 0;
  while (first < rest.size()) {
    ssize_t n = ::pwritev(fd, rest.data() + first, int(rest.size() - first), off_t(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    offset += std::uint64_t(n);
    std::size_t left = std::size_t(n);
    while (first < rest.size() && left >= rest[first].iov_len) {
      left -= rest[first].iov_len;
      ++first;
    }
    if (first < rest.size() && left > 0) {
      rest[first].iov_base = static_cast<char*>(rest[first].iov_base) + left;
      rest[first].iov_len -= left;
    }
  }
  return 0;
}

int WriteAll(int fd, const void* buffer, std::size_t size) {
  const auto* p = static_cast<const char*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = ::write(fd, p + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    done += std::size_t(n);
  }
  return 0;
}

int FileSize(int fd, std::uint64_t* size) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return errno;
  *size = std::uint64_t(st.st_size);
  return 0;
}

bool FlockGuard::Lock(int fd, bool exclusive) {
  Unlock();
  while (::flock(fd, exclusive ? LOCK_EX : LOCK_SH) != 0) {
    if (errno != EINTR) return false;
  }
  fd_ = fd;
  return true;
}

void FlockGuard::Unlock() {
  if (fd_ >= 0) ::flock(fd_, LOCK_UN);
  fd_ = -1;
}

int SharedMapping::Map(int fd, std::size_t size) {
  Reset();
  void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (p == MAP_FAILED) return errno;
  data_ = static_cast<std::uint8_t*>(p);
  size_ = size;
  return 0;
}

void SharedMapping::Reset() {
  if (data_ != nullptr) ::munmap(data_, size_);
  data_ = nullptr;
  size_ = 0;
}

int ReadFileBytes(const std::string& path, std::string& out) {
  UniqueFd fd = OpenFile(path, O_RDONLY);
  if (!fd.valid()) return errno;
  std::uint64_t size = 0;
  if (int e = FileSize(fd.get(), &size)) return e;
  out.resize(size);
  std::size_t got = 0;
  if (int e = PReadAll(fd.get(), out.data(), out.size(), 0, &got)) return e;
  out.resize(got);
  return 0;
}

int WriteFileAtomically(const std::string& path, const void* data, std::size_t size) {
  std::string temp = path + ".tmp-" + std::to_string(::getpid());
  UniqueFd fd = OpenFile(temp, O_WRONLY | O_CREAT | O_TRUNC);
  if (!fd.valid()) return errno;
  int e = WriteAll(fd.get(), data, size);
  if (e == 0 && ::fsync(fd.get()) != 0) e = errno;
  fd.Reset();
  if (e == 0 && ::rename(temp.c_str(), path.c_str()) != 0) e = errno;
  if (e != 0) ::unlink(temp.c_str());
  return e;
}

bool PathExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

int MakeDirectories(const std::string& path) {
  if (path.empty()) return EINVAL;
  std::string partial;
  std::size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    partial = path.substr(0, pos);
    if (partial.empty()) continue;
    if (::mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return errno;
  }
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return errno;
  return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

std::string ParentDirectory(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace dominosim
