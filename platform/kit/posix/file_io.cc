#include "platform/kit/file_io.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>

#include "platform/kit/temp_file.h"
#include "platform/kit/unique_fd.h"

namespace platform::kit {
namespace {

bool IsDotOrDotDot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

int ReadStream(DIR* dir, std::vector<std::string>& names) {
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir);
    if (entry == nullptr) return errno;
    if (!IsDotOrDotDot(entry->d_name)) names.emplace_back(entry->d_name);
  }
}

// Errors of FICLONE that say the files cannot share extents (another file
// system type, another file system, a kernel without it, unaligned ranges).
bool ReflinkUnsupported(int err) {
  return err == EOPNOTSUPP || err == ENOTTY || err == EXDEV || err == ENOSYS || err == EINVAL ||
         err == EBADF;
}

int CopyByReadWrite(int in, int out) {
  constexpr std::size_t kBuffer = std::size_t(1) << 18;
  const std::unique_ptr<char[]> buffer = std::make_unique<char[]>(kBuffer);
  for (;;) {
    const ssize_t n = ::read(in, buffer.get(), kBuffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return 0;
    if (const int err = WriteAll(out, buffer.get(), std::size_t(n))) return err;
  }
}

}  // namespace

int CloseDescriptor(int fd) { return ::close(fd) == 0 ? 0 : errno; }

UniqueFd OpenFile(const std::string& path, int flags, mode_t mode) {
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

int PWritePieces(int fd, const WritePiece* pieces, int count, std::uint64_t offset) {
  std::vector<struct iovec> rest(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    rest[std::size_t(i)].iov_base = const_cast<void*>(pieces[i].data);
    rest[std::size_t(i)].iov_len = pieces[i].size;
  }
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
    if (n == 0) return EIO;  // a device that takes nothing
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

int ReadAll(int fd, std::string& out, std::size_t limit) {
  out.clear();
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return 0;
    if (std::size_t(n) > limit - out.size()) return EFBIG;
    out.append(buffer, std::size_t(n));
  }
}

int WriteFileAtomically(const std::string& path, std::string_view data, bool durable, mode_t mode) {
  TempFile temp;
  int err = temp.Create(path, mode);
  if (err == 0) err = temp.WriteAll(data);
  if (err == 0 && durable && ::fsync(temp.fd()) != 0) err = errno;
  if (err == 0) err = temp.Commit(path, false);
  if (err == 0 && durable) err = SyncDirectory(ParentDirectory(path));
  return err;
}

int Flock(int fd, int operation) {
  while (::flock(fd, operation) != 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

int TryLock(int fd, bool exclusive) { return Flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB); }

int LockWait(int fd, bool exclusive) { return Flock(fd, exclusive ? LOCK_EX : LOCK_SH); }

namespace {

// fcntl(2) with an open-file-description lock request on one byte.
int ByteLockRequest(int fd, int command, short type, std::uint64_t offset, short* found = nullptr) {
  struct flock lock = {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = off_t(offset);
  lock.l_len = 1;
  while (::fcntl(fd, command, &lock) != 0) {
    if (errno != EINTR) return errno;
  }
  if (found != nullptr) *found = lock.l_type;
  return 0;
}

}  // namespace

int TryLockByte(int fd, std::uint64_t offset) {
  int e = ByteLockRequest(fd, F_OFD_SETLK, F_WRLCK, offset);
  return e == EAGAIN || e == EACCES ? EWOULDBLOCK : e;
}

void UnlockByte(int fd, std::uint64_t offset) { ByteLockRequest(fd, F_OFD_SETLK, F_UNLCK, offset); }

bool ByteLockedByOther(int fd, std::uint64_t offset) {
  short found = F_UNLCK;
  if (ByteLockRequest(fd, F_OFD_GETLK, F_WRLCK, offset, &found) != 0) return true;  // unknown: taken as locked
  return found != F_UNLCK;
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

int ListNames(const std::string& dir, std::vector<std::string>& names) {
  UniqueDir stream(::opendir(dir.c_str()));
  if (!stream.valid()) return errno;
  return ReadStream(stream.get(), names);
}

int ListNamesAt(int dirFd, std::vector<std::string>& names) {
  // The stream owns its descriptor: a copy, so that dirFd stays open.
  const int copy = ::dup(dirFd);
  if (copy < 0) return errno;
  UniqueDir stream(::fdopendir(copy));
  if (!stream.valid()) {
    const int err = errno;
    ::close(copy);
    return err;
  }
  ::rewinddir(stream.get());  // the copy shares the position of dirFd
  return ReadStream(stream.get(), names);
}

int SyncDirectory(const std::string& dir) {
  UniqueFd fd = OpenFile(dir, O_RDONLY | O_DIRECTORY);
  if (!fd.valid()) return errno;
  return ::fsync(fd.get()) == 0 ? 0 : errno;
}

int RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  struct stat st {};
  if (::lstat(from.c_str(), &st) != 0) return errno;
  if (!S_ISDIR(st.st_mode)) {
    if (::link(from.c_str(), to.c_str()) != 0) return errno;
    ::unlink(from.c_str());
    return 0;
  }
  if (::lstat(to.c_str(), &st) == 0) return EEXIST;
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

int CopyFileData(int in, int out, bool tryReflink, bool* shared, bool* reflinkUsable) {
  if (shared != nullptr) *shared = false;
  if (tryReflink) {
    if (::ioctl(out, FICLONE, in) == 0) {
      if (shared != nullptr) *shared = true;
      return 0;
    }
    if (!ReflinkUnsupported(errno)) return errno;
    // EINVAL may be this file's ranges only; the others mean never here.
    if (errno != EINVAL && reflinkUsable != nullptr) *reflinkUsable = false;
  }
  bool copiedAny = false;
  for (;;) {
    const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, std::size_t(1) << 30, 0);
    if (n > 0) {
      copiedAny = true;
      continue;  // to the end of the file, even when it grew meanwhile
    }
    if (n == 0 && copiedAny) return 0;
    if (n < 0 && errno == EINTR) continue;
    // Nothing copied yet: the kernel cannot copy these files (another file
    // system type, or a pseudo file that reports no size), so read and write.
    if (n < 0 && (copiedAny || (errno != ENOSYS && errno != EXDEV && errno != EINVAL &&
                                errno != EOPNOTSUPP && errno != EBADF))) {
      return errno;
    }
    return CopyByReadWrite(in, out);
  }
}

bool PathExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

int TruncateFile(int fd, std::uint64_t size) { return ::ftruncate(fd, off_t(size)) == 0 ? 0 : errno; }

int RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0 ? 0 : errno; }

int ReplaceFile(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

int RemoveEmptyDirectory(const std::string& path) { return ::rmdir(path.c_str()) == 0 ? 0 : errno; }

int MakeTempDirectory(std::string& pattern) { return ::mkdtemp(pattern.data()) != nullptr ? 0 : errno; }

namespace {

// The name the kernel keeps for an open file: as realpath would give it,
// links resolved, in one call. False when /proc is missing or the file was
// deleted.
bool NameOfOpen(int fd, std::string& out) {
  char link[32];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  char target[PATH_MAX];
  const ssize_t n = ::readlink(link, target, sizeof target);
  constexpr std::string_view kDeleted = " (deleted)";
  if (n <= 0 || n >= ssize_t(sizeof target) || target[0] != '/') return false;
  const std::string_view text(target, std::size_t(n));
  if (text.size() >= kDeleted.size() && text.substr(text.size() - kDeleted.size()) == kDeleted) return false;
  out.assign(text);
  return true;
}

}  // namespace

int CanonicalPath(const std::string& path, std::string& out) {
  // realpath looks at every component of the path, which costs a deep path
  // dozens of calls (and it is asked for each database a runtime opens);
  // opening it and asking the kernel for its name costs three.
  UniqueFd fd(::open(path.c_str(), O_PATH | O_CLOEXEC));
  if (!fd.valid()) return errno;
  if (NameOfOpen(fd.get(), out)) return 0;
  char canonical[PATH_MAX];
  if (::realpath(path.c_str(), canonical) == nullptr) return errno;
  out = canonical;
  return 0;
}

int CanonicalPathOfOpen(int fd, const std::string& path, std::string& out) {
  return NameOfOpen(fd, out) ? 0 : CanonicalPath(path, out);
}

std::uint64_t FileIdentity(int fd) {
  struct stat st;
  return ::fstat(fd, &st) == 0 ? std::uint64_t(st.st_ino) : 0;
}

std::uint64_t PathIdentity(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? std::uint64_t(st.st_ino) : 0;
}

std::uint64_t NowFileTime() {
  struct timespec ts;
  ::clock_gettime(CLOCK_REALTIME, &ts);
  return (std::uint64_t(ts.tv_sec) + 11644473600ull) * 10000000ull + std::uint64_t(ts.tv_nsec) / 100;
}

int MakeDirectories(const std::string& path) {
  // mkdir of every prefix, so that concurrent creators both succeed.
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

std::string JoinHostPath(const std::string& dir, const std::string& relative) {
  std::string out = dir;
  if (out.empty() || out.back() != '/') out += '/';
  for (char c : relative) out += c == '\\' ? '/' : c;
  return out;
}

}  // namespace platform::kit
