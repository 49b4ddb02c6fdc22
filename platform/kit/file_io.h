// File helpers on host paths and descriptors: opening, whole reads and
// writes, locks, listings, renames, whole-file replacement and copies.
// Results are errno values (0 on success) unless a line says otherwise.
//
// The toolkit of the components of our own (the simulated runtime, the
// snapshot component) and of the platform layers. Its interface is
// POSIX-style (descriptors, errno values, O_ flags) and has two
// implementations: platform/kit/posix on POSIX, platform/kit/win32 on
// Windows, where a descriptor is a C runtime descriptor over a Win32 handle
// opened with full sharing (so files can be renamed and removed while open,
// as on POSIX) and "host paths" are Windows paths.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "platform/kit/unique_handle.h"

namespace platform::kit {

// open(2) with O_CLOEXEC, retried on EINTR; on failure the descriptor is
// invalid and errno set.
UniqueFd OpenFile(const std::string& path, int flags, mode_t mode = 0644);

// Whole transfers. A read that meets the end of the file early returns EIO
// unless *got is given (then the count read).
int PReadAll(int fd, void* buffer, std::size_t size, std::uint64_t offset, std::size_t* got = nullptr);
int PWriteAll(int fd, const void* buffer, std::size_t size, std::uint64_t offset);
int WriteAll(int fd, const void* buffer, std::size_t size);
// Gathered write of every byte of the pieces at offset.
struct WritePiece {
  const void* data = nullptr;
  std::size_t size = 0;
};
int PWritePieces(int fd, const WritePiece* pieces, int count, std::uint64_t offset);
int FileSize(int fd, std::uint64_t* size);

// Reads from fd's position to the end into out (replaced); more than limit
// bytes is EFBIG.
int ReadAll(int fd, std::string& out, std::size_t limit = std::numeric_limits<std::size_t>::max());
// Reads the whole file at path into out, as ReadAll.
int ReadFileBytes(const std::string& path, std::string& out,
                  std::size_t limit = std::numeric_limits<std::size_t>::max());

// Replaces (or creates) the file at path with data as a whole: a temporary
// file in its directory renamed over it, so a reader or a crash sees the old
// content or the new, never a part. mode is that of a new file (the umask
// applies); durable also flushes the data and the directory entry to disk.
int WriteFileAtomically(const std::string& path, std::string_view data, bool durable, mode_t mode = 0644);

// flock(2) retried on EINTR (operation: LOCK_SH, LOCK_EX, with LOCK_NB).
int Flock(int fd, int operation);

// The lock of a whole file without waiting: EWOULDBLOCK when another open
// file holds a conflicting one.
int TryLock(int fd, bool exclusive);
// The lock of a whole file, waiting for it.
int LockWait(int fd, bool exclusive);

// An exclusive lock on one byte at offset, owned by the open file (an
// open-file-description lock on POSIX, LockFileEx on Windows), without
// waiting: EWOULDBLOCK when another open file holds it. It does not meet the
// whole-file lock above, and goes with the last descriptor of its open file
// (with the process that dies). UnlockByte gives it back.
int TryLockByte(int fd, std::uint64_t offset);
void UnlockByte(int fd, std::uint64_t offset);
// Whether another open file holds a lock on the byte at offset (one held by
// fd's own open file does not count on POSIX; on Windows fd must hold none).
// Taken as true when it cannot be told.
bool ByteLockedByOther(int fd, std::uint64_t offset);

// Holds flock(2) on a descriptor for its lifetime (blocking).
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
  int Map(int fd, std::size_t size);
  void Reset();
  std::uint8_t* data() const { return data_; }
  bool valid() const { return data_ != nullptr; }

 private:
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

// The entry names of a directory, without "." and "..", in the order the
// file system lists them (appended to names). ListNamesAt reads the
// directory open as dirFd from its start and leaves dirFd open.
int ListNames(const std::string& dir, std::vector<std::string>& names);
int ListNamesAt(int dirFd, std::vector<std::string>& names);

// Directories of a kind that goes as a whole by a call of its own (a btrfs
// subvolume) rather than entry by entry: is() is asked with the directory
// open, remove() removes it by its name in its parent (an errno value).
struct WholeDirectories {
  std::function<bool(int dirFd)> is;
  std::function<int(int parentFd, const char* name)> remove;
};
// Removes a file, or a directory with everything in it, never following a
// symbolic link out of the tree; an entry that vanishes meanwhile counts as
// removed. Removes as much as it can and returns the first errno met
// (ENOENT when path does not exist). POSIX only: the Windows layers delete
// trees with the system's own call.
int RemoveTree(const std::string& path, const WholeDirectories* whole = nullptr);

// Makes a directory's entries durable (fsync of the directory).
int SyncDirectory(const std::string& dir);

// rename(2) that never replaces: EEXIST when `to` exists. File systems
// without RENAME_NOREPLACE get a hard link and unlink for a file (as
// exclusive), a check and rename for a directory.
int RenameNoReplace(const std::string& from, const std::string& to);

// Copies in from its position to its end into out: shared extents (FICLONE)
// when tryReflink and the file system allows it, else copy_file_range, else
// reads and writes. *shared tells whether extents were shared; *reflinkUsable
// turns false when the file system cannot share extents at all, so that a
// caller copying many files stops trying.
int CopyFileData(int in, int out, bool tryReflink, bool* shared = nullptr, bool* reflinkUsable = nullptr);

bool PathExists(const std::string& path);
bool IsDirectory(const std::string& path);
bool IsRegularFile(const std::string& path);
// Sets the file's size (cuts or extends with zeros).
int TruncateFile(int fd, std::uint64_t size);
// unlink(2) of a file; rename(2) replacing an existing target file.
int RemoveFile(const std::string& path);
int ReplaceFile(const std::string& from, const std::string& to);
// rmdir(2) of an empty directory.
int RemoveEmptyDirectory(const std::string& path);
// A new directory named after pattern, whose last six characters
// ("XXXXXX") are replaced; pattern becomes its path.
int MakeTempDirectory(std::string& pattern);
// The absolute path without links or "." and ".." (letter case made
// uniform where the file system ignores it), for telling whether two paths
// name one file.
int CanonicalPath(const std::string& path, std::string& out);
// The same for a file open as fd at path, in fewer calls where the system
// names an open file's path (one instead of one per level).
int CanonicalPathOfOpen(int fd, const std::string& path, std::string& out);
// Tells whether a path names the same file as before: the file's identity
// (inode or file index); 0 when it cannot be read.
std::uint64_t FileIdentity(int fd);
std::uint64_t PathIdentity(const std::string& path);
// Time of day as a FILETIME (100 ns since 1601-01-01 UTC).
std::uint64_t NowFileTime();
// mkdir -p (0755 and the umask); ENOTDIR when path is not a directory.
int MakeDirectories(const std::string& path);
// "a/b/c" -> "a/b" and "c"; "c" -> "." and "c"; "/c" -> "/" and "c"
// (trailing slashes ignored; on Windows "\" separates too).
void SplitPath(const std::string& path, std::string& parent, std::string& name);
std::string ParentDirectory(const std::string& path);
// dir joined with a relative path written with either separator; the
// result uses the host's separator throughout the relative part.
std::string JoinHostPath(const std::string& dir, const std::string& relative);

}  // namespace platform::kit
