// The toolkit on Win32. A descriptor is a C runtime descriptor over a handle
// opened with full sharing, so that (as on POSIX) a file can be renamed or
// removed while another process has it open; locks are LockFileEx on one
// byte far past any data (they then never stand in the way of reads and
// writes); mappings are views of a file mapping, which every process of the
// machine sees alike.
#include "platform/kit/file_io.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>
// The toolkit has a ReplaceFile of its own; windows.h makes the name a macro.
#undef ReplaceFile

#include <atomic>
#include <cerrno>
#include <cstdio>

#include "platform/kit/win32/win32_errors.h"

namespace platform::kit {
namespace {

HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(::_get_osfhandle(fd)); }

// The byte that stands for a whole-file lock.
constexpr DWORD kLockOffsetLow = 0xFFFFFFFEu;
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFFu;

int LockWholeFile(int fd, bool exclusive, bool wait) {
  const HANDLE h = HandleOf(fd);
  if (h == INVALID_HANDLE_VALUE) return EBADF;
  OVERLAPPED at = {};
  at.Offset = kLockOffsetLow;
  at.OffsetHigh = kLockOffsetHigh;
  DWORD flags = exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0;
  if (!wait) flags |= LOCKFILE_FAIL_IMMEDIATELY;
  if (::LockFileEx(h, flags, 0, 1, 0, &at)) return 0;
  const DWORD err = ::GetLastError();
  if (err == ERROR_LOCK_VIOLATION || err == ERROR_IO_PENDING) return EWOULDBLOCK;
  return win32::ErrnoFromWin32(err);
}

void UnlockWholeFile(int fd) {
  OVERLAPPED at = {};
  at.Offset = kLockOffsetLow;
  at.OffsetHigh = kLockOffsetHigh;
  ::UnlockFileEx(HandleOf(fd), 0, 1, 0, &at);
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

std::uint64_t IdentityOf(HANDLE h) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(h, &info)) return 0;
  const std::uint64_t index = (std::uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return index ^ (std::uint64_t(info.dwVolumeSerialNumber) << 40) ^ 1;
}

// A fresh name beside a target: "<target>.<pid>.<n>.tmp".
std::string TemporaryName(const std::string& target) {
  static std::atomic<unsigned> counter{0};
  char suffix[48];
  std::snprintf(suffix, sizeof suffix, ".%lu.%u.tmp", ::GetCurrentProcessId(), counter++);
  return target + suffix;
}

}  // namespace

int CloseDescriptor(int fd) { return ::_close(fd) == 0 ? 0 : errno; }

UniqueFd OpenFile(const std::string& path, int flags, mode_t) {
  const int access = flags & (O_RDONLY | O_WRONLY | O_RDWR);
  // Writers may also cut the file (TruncateFile), which needs read access
  // on some systems: a writable file is opened for both.
  const DWORD desired = access == O_RDONLY ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
  DWORD disposition = OPEN_EXISTING;
  if ((flags & O_CREAT) != 0 && (flags & O_EXCL) != 0) {
    disposition = CREATE_NEW;
  } else if ((flags & O_CREAT) != 0) {
    disposition = (flags & O_TRUNC) != 0 ? CREATE_ALWAYS : OPEN_ALWAYS;
  } else if ((flags & O_TRUNC) != 0) {
    disposition = TRUNCATE_EXISTING;
  }
  const HANDLE h = ::CreateFileA(path.c_str(), desired, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    errno = win32::ErrnoFromWin32(::GetLastError());
    return UniqueFd();
  }
  int crtFlags = access == O_RDONLY ? _O_RDONLY : 0;
  if ((flags & O_APPEND) != 0) crtFlags |= _O_APPEND;
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), crtFlags);
  if (fd < 0) {
    ::CloseHandle(h);
    errno = EMFILE;
    return UniqueFd();
  }
  ::_setmode(fd, _O_BINARY);
  return UniqueFd(fd);
}

namespace {

// The largest piece one ReadFile or WriteFile call is given.
constexpr DWORD kMaxTransfer = 0x40000000u;

// An OVERLAPPED that places a synchronous ReadFile or WriteFile at where.
OVERLAPPED OverlappedAt(std::uint64_t where) {
  OVERLAPPED at = {};
  at.Offset = DWORD(where);
  at.OffsetHigh = DWORD(where >> 32);
  return at;
}

}  // namespace

int PReadAll(int fd, void* buffer, std::size_t size, std::uint64_t offset, std::size_t* got) {
  const HANDLE h = HandleOf(fd);
  auto* p = static_cast<char*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    OVERLAPPED at = OverlappedAt(offset + done);
    const DWORD want = size - done > kMaxTransfer ? kMaxTransfer : DWORD(size - done);
    DWORD n = 0;
    if (!::ReadFile(h, p + done, want, &n, &at)) {
      const DWORD err = ::GetLastError();
      if (err == ERROR_HANDLE_EOF) break;
      return win32::ErrnoFromWin32(err);
    }
    if (n == 0) break;
    done += n;
  }
  if (got != nullptr) {
    *got = done;
    return 0;
  }
  return done == size ? 0 : EIO;
}

int PWriteAll(int fd, const void* buffer, std::size_t size, std::uint64_t offset) {
  const HANDLE h = HandleOf(fd);
  const auto* p = static_cast<const char*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    OVERLAPPED at = OverlappedAt(offset + done);
    const DWORD want = size - done > kMaxTransfer ? kMaxTransfer : DWORD(size - done);
    DWORD n = 0;
    if (!::WriteFile(h, p + done, want, &n, &at)) return win32::ErrnoFromWin32(::GetLastError());
    if (n == 0) return EIO;
    done += n;
  }
  return 0;
}

int PWritePieces(int fd, const WritePiece* pieces, int count, std::uint64_t offset) {
  for (int i = 0; i < count; ++i) {
    if (const int err = PWriteAll(fd, pieces[i].data, pieces[i].size, offset)) return err;
    offset += pieces[i].size;
  }
  return 0;
}

int WriteAll(int fd, const void* buffer, std::size_t size) {
  const auto* p = static_cast<const char*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    const unsigned want = size - done > 0x40000000u ? 0x40000000u : unsigned(size - done);
    const int n = ::_write(fd, p + done, want);
    if (n < 0) return errno;
    if (n == 0) return EIO;
    done += std::size_t(n);
  }
  return 0;
}

int FileSize(int fd, std::uint64_t* size) {
  LARGE_INTEGER value;
  if (!::GetFileSizeEx(HandleOf(fd), &value)) return win32::ErrnoFromWin32(::GetLastError());
  *size = std::uint64_t(value.QuadPart);
  return 0;
}

int ReadAll(int fd, std::string& out, std::size_t limit) {
  out.clear();
  char buffer[65536];
  for (;;) {
    const int n = ::_read(fd, buffer, sizeof buffer);
    if (n < 0) return errno;
    if (n == 0) return 0;
    if (std::size_t(n) > limit - out.size()) return EFBIG;
    out.append(buffer, std::size_t(n));
  }
}

int WriteFileAtomically(const std::string& path, std::string_view data, bool durable, mode_t) {
  const std::string temp = TemporaryName(path);
  UniqueFd fd = OpenFile(temp, O_WRONLY | O_CREAT | O_EXCL);
  if (!fd.valid()) return errno;
  int err = WriteAll(fd.get(), data.data(), data.size());
  if (err == 0 && durable && !::FlushFileBuffers(HandleOf(fd.get()))) err = win32::ErrnoFromWin32(::GetLastError());
  fd.reset();
  const DWORD flags = MOVEFILE_REPLACE_EXISTING | (durable ? MOVEFILE_WRITE_THROUGH : 0);
  if (err == 0 && !::MoveFileExA(temp.c_str(), path.c_str(), flags)) err = win32::ErrnoFromWin32(::GetLastError());
  if (err != 0) ::DeleteFileA(temp.c_str());
  return err;
}

int TryLock(int fd, bool exclusive) { return LockWholeFile(fd, exclusive, false); }

int LockWait(int fd, bool exclusive) { return LockWholeFile(fd, exclusive, true); }

int TryLockByte(int fd, std::uint64_t offset) {
  const HANDLE h = HandleOf(fd);
  if (h == INVALID_HANDLE_VALUE) return EBADF;
  OVERLAPPED at = {};
  at.Offset = DWORD(offset);
  at.OffsetHigh = DWORD(offset >> 32);
  if (::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) return 0;
  const DWORD err = ::GetLastError();
  if (err == ERROR_LOCK_VIOLATION || err == ERROR_IO_PENDING) return EWOULDBLOCK;
  return win32::ErrnoFromWin32(err);
}

void UnlockByte(int fd, std::uint64_t offset) {
  OVERLAPPED at = {};
  at.Offset = DWORD(offset);
  at.OffsetHigh = DWORD(offset >> 32);
  ::UnlockFileEx(HandleOf(fd), 0, 1, 0, &at);
}

// Windows cannot ask who holds a lock: a shared lock taken and given back at
// once tells whether an exclusive one is held elsewhere.
bool ByteLockedByOther(int fd, std::uint64_t offset) {
  const HANDLE h = HandleOf(fd);
  if (h == INVALID_HANDLE_VALUE) return true;
  OVERLAPPED at = {};
  at.Offset = DWORD(offset);
  at.OffsetHigh = DWORD(offset >> 32);
  if (!::LockFileEx(h, LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) return true;
  ::UnlockFileEx(h, 0, 1, 0, &at);
  return false;
}

void FlockGuard::Unlock() {
  if (fd_ >= 0) UnlockWholeFile(fd_);
  fd_ = -1;
}

int SharedMapping::Map(int fd, std::size_t size) {
  Reset();
  const HANDLE mapping = ::CreateFileMappingA(HandleOf(fd), nullptr, PAGE_READWRITE, 0, DWORD(size), nullptr);
  if (mapping == nullptr) return win32::ErrnoFromWin32(::GetLastError());
  void* view = ::MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, size);
  const DWORD err = ::GetLastError();
  ::CloseHandle(mapping);  // the view keeps the mapping
  if (view == nullptr) return win32::ErrnoFromWin32(err);
  data_ = static_cast<std::uint8_t*>(view);
  size_ = size;
  return 0;
}

void SharedMapping::Reset() {
  if (data_ != nullptr) ::UnmapViewOfFile(data_);
  data_ = nullptr;
  size_ = 0;
}

int ListNames(const std::string& dir, std::vector<std::string>& names) {
  WIN32_FIND_DATAA data;
  std::string pattern = dir;
  if (pattern.empty() || !IsSeparator(pattern.back())) pattern += '\\';
  pattern += '*';
  const HANDLE find = ::FindFirstFileA(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return win32::ErrnoFromWin32(::GetLastError());
  do {
    const std::string_view name = data.cFileName;
    if (name != "." && name != "..") names.emplace_back(name);
  } while (::FindNextFileA(find, &data));
  const DWORD err = ::GetLastError();
  ::FindClose(find);
  return err == ERROR_NO_MORE_FILES ? 0 : win32::ErrnoFromWin32(err);
}

// Windows makes a directory's entries durable with the moves that write
// through (MOVEFILE_WRITE_THROUGH); a directory cannot be flushed itself.
int SyncDirectory(const std::string&) { return 0; }

int RenameNoReplace(const std::string& from, const std::string& to) {
  if (::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) return 0;
  return win32::ErrnoFromWin32(::GetLastError());
}

int CopyFileData(int in, int out, bool, bool* shared, bool* reflinkUsable) {
  if (shared != nullptr) *shared = false;
  if (reflinkUsable != nullptr) *reflinkUsable = false;
  char buffer[1 << 16];
  for (;;) {
    const int n = ::_read(in, buffer, sizeof buffer);
    if (n < 0) return errno;
    if (n == 0) return 0;
    if (const int err = WriteAll(out, buffer, std::size_t(n))) return err;
  }
}

bool PathExists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool IsDirectory(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsRegularFile(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

int TruncateFile(int fd, std::uint64_t size) {
  FILE_END_OF_FILE_INFO info;
  info.EndOfFile.QuadPart = LONGLONG(size);
  if (::SetFileInformationByHandle(HandleOf(fd), FileEndOfFileInfo, &info, sizeof info)) return 0;
  return win32::ErrnoFromWin32(::GetLastError());
}

int RemoveFile(const std::string& path) {
  return ::DeleteFileA(path.c_str()) ? 0 : win32::ErrnoFromWin32(::GetLastError());
}

int ReplaceFile(const std::string& from, const std::string& to) {
  if (::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return 0;
  return win32::ErrnoFromWin32(::GetLastError());
}

int RemoveEmptyDirectory(const std::string& path) {
  return ::RemoveDirectoryA(path.c_str()) ? 0 : win32::ErrnoFromWin32(::GetLastError());
}

int MakeTempDirectory(std::string& pattern) {
  if (pattern.size() < 6 || pattern.compare(pattern.size() - 6, 6, "XXXXXX") != 0) return EINVAL;
  static std::atomic<unsigned> counter{0};
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned long long seed = (std::uint64_t(::GetCurrentProcessId()) << 32) ^ ::GetTickCount64() ^
                              (std::uint64_t(counter++) * 0x9E3779B97F4A7C15ull);
    for (std::size_t i = pattern.size() - 6; i < pattern.size(); ++i) {
      pattern[i] = kLetters[seed % 36];
      seed /= 36;
    }
    if (::CreateDirectoryA(pattern.c_str(), nullptr)) return 0;
    if (::GetLastError() != ERROR_ALREADY_EXISTS) return win32::ErrnoFromWin32(::GetLastError());
  }
  return EEXIST;
}

int CanonicalPath(const std::string& path, std::string& out) {
  char buffer[MAX_PATH * 4];
  const DWORD n = ::GetFullPathNameA(path.c_str(), sizeof buffer, buffer, nullptr);
  if (n == 0 || n >= sizeof buffer) return ENAMETOOLONG;
  if (::GetFileAttributesA(buffer) == INVALID_FILE_ATTRIBUTES) return win32::ErrnoFromWin32(::GetLastError());
  // Names differ only in letter case on Windows: one spelling for all.
  std::string text(buffer, n);
  for (char& c : text) {
    if (c == '/') c = '\\';
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  }
  out = std::move(text);
  return 0;
}

int CanonicalPathOfOpen(int /*fd*/, const std::string& path, std::string& out) { return CanonicalPath(path, out); }

std::uint64_t FileIdentity(int fd) { return IdentityOf(HandleOf(fd)); }

std::uint64_t PathIdentity(const std::string& path) {
  const HANDLE h = ::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 0;
  const std::uint64_t identity = IdentityOf(h);
  ::CloseHandle(h);
  return identity;
}

std::uint64_t NowFileTime() {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  return (std::uint64_t(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

int MakeDirectories(const std::string& path) {
  if (path.empty()) return EINVAL;
  // Every prefix that ends before a separator, then the whole path; the
  // drive ("C:") and a server share are not made.
  std::size_t start = path.size() >= 2 && path[1] == ':' ? 2 : 0;
  for (std::size_t i = start + 1; i <= path.size(); ++i) {
    if (i < path.size() && !IsSeparator(path[i])) continue;
    const std::string partial = path.substr(0, i);
    if (partial.empty() || IsSeparator(partial.back())) continue;
    if (!::CreateDirectoryA(partial.c_str(), nullptr)) {
      const DWORD err = ::GetLastError();
      if (err != ERROR_ALREADY_EXISTS && err != ERROR_ACCESS_DENIED) return win32::ErrnoFromWin32(err);
    }
  }
  if (!PathExists(path)) return ENOENT;
  return IsDirectory(path) ? 0 : ENOTDIR;
}

void SplitPath(const std::string& path, std::string& parent, std::string& name) {
  std::string_view trimmed = path;
  const std::size_t rootLength = trimmed.size() >= 3 && trimmed[1] == ':' && IsSeparator(trimmed[2]) ? 3 : 1;
  while (trimmed.size() > rootLength && IsSeparator(trimmed.back())) trimmed.remove_suffix(1);
  std::size_t slash = trimmed.size();
  while (slash > 0 && !IsSeparator(trimmed[slash - 1])) --slash;
  if (slash == 0) {
    // (Built character by character: GCC 12 warns falsely about assign here.)
    parent.clear();
    parent.push_back('.');
    name = std::string(trimmed);
    return;
  }
  name.assign(trimmed.substr(slash));
  std::string_view head = trimmed.substr(0, slash);  // with its separator
  if (head.size() > rootLength) head.remove_suffix(1);
  parent.assign(head);
}

std::string JoinHostPath(const std::string& dir, const std::string& relative) {
  std::string out = dir;
  if (out.empty() || !IsSeparator(out.back())) out += '\\';
  for (char c : relative) out += c == '/' ? '\\' : c;
  return out;
}

}  // namespace platform::kit
