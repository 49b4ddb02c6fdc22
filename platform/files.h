// Files and directories by Windows path, with Win32 error codes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "platform/native_handle.h"
#include "platform/win_types.h"

namespace platform {

struct FindData {
  std::string name;  // file name only
  DWORD attributes = 0;
  FILETIME lastWriteTime;
  std::uint64_t size = 0;
};

// FindFirstFile/FindNextFile: lists the entries of the pattern's directory
// whose names match its last component ("*" and "*.*" match everything,
// "?" one character; case-insensitive), "." and ".." included as Windows
// lists them. Returns ERROR_SUCCESS (entries may be empty only for a pattern
// that matches nothing: ERROR_FILE_NOT_FOUND), ERROR_PATH_NOT_FOUND when the
// directory does not exist.
DWORD FindFiles(const std::string& pattern, std::vector<FindData>& out);

// One entry of a directory as a tree walk needs it: its name and whether it
// is a directory (a link counts as what it points to).
struct DirectoryName {
  std::string name;
  bool directory = false;
};
// The entries of a directory (Windows path, with or without a trailing
// separator) in the order FindFiles lists them, without "." and "..", and
// without the per-entry times and sizes of FindFiles, so a walk over a large
// tree costs little more than reading its directories. ERROR_SUCCESS (also
// for an empty directory), ERROR_PATH_NOT_FOUND when it does not exist.
DWORD ListDirectoryNames(const std::string& directory, std::vector<DirectoryName>& out);

DWORD GetFileAttributes(const std::string& path);  // INVALID_FILE_ATTRIBUTES when missing
DWORD CreateDirectory(const std::string& path);    // 0, ERROR_ALREADY_EXISTS, ERROR_PATH_NOT_FOUND, ...
DWORD RemoveDirectory(const std::string& path);
DWORD DeleteFile(const std::string& path);
// Copies a file (reflink or copy_file_range where possible) to a temporary
// name beside the target and renames it into place, so a failed copy leaves
// no partial target. failIfExists: ERROR_FILE_EXISTS when the target exists.
DWORD CopyFile(const std::string& from, const std::string& to, bool failIfExists);
DWORD MoveFile(const std::string& from, const std::string& to);  // ERROR_ALREADY_EXISTS when target exists
DWORD DeleteTree(const std::string& path);  // a directory and all it holds
DWORD GetDiskFreeSpace(const std::string& path, std::uint64_t& freeBytes);  // total free bytes
DWORD GetLastWriteTime(const std::string& path, FILETIME& out);
DWORD GetFileSize(const std::string& path, std::uint64_t& size);
// Asks the system to start reading the first maxBytes of a file into its
// cache without waiting for it, so that reading it later finds it there.
// A hint: the bytes asked for (0 when the file cannot be opened or the
// system takes no such hint).
std::uint64_t ReadAheadFile(const std::string& path, std::uint64_t maxBytes);

// Makes what was written to a file, or to a directory's list of names (a
// file created, renamed or removed in it), durable on the disk before it
// returns. ERROR_SUCCESS; a flush that fails is a failed write
// (ERROR_WRITE_FAULT, ERROR_DISK_FULL, ...); ERROR_FILE_NOT_FOUND or
// ERROR_PATH_NOT_FOUND when nothing is at the path. A directory on a file
// system that cannot flush one counts as flushed.
DWORD FlushToDisk(const std::string& path);
// Makes many written files and directories durable at the cost of one
// flush per file system (volume) rather than one per path: write
// everything, Add each file written and each directory whose names changed,
// then Flush once. Nothing added is durable before Flush has returned
// ERROR_SUCCESS.
class FlushBatch {
 public:
  // A file written, or a directory whose names changed; a path added twice
  // counts once.
  void Add(const std::string& path);
  // Add of the directory that holds path and of every one above it up to
  // the drive's root: the names of a file just created, and of the folders
  // created for it now or by an earlier run, are durable only then.
  void AddDirectoriesAbove(const std::string& path);
  // Makes every path added durable and empties the batch. ERROR_SUCCESS; a
  // flush that fails is a failed write (ERROR_WRITE_FAULT, ERROR_DISK_FULL,
  // ...) with failedPath naming the first path added on the file system
  // that could not be flushed; ERROR_FILE_NOT_FOUND or ERROR_PATH_NOT_FOUND
  // with failedPath naming a path at which nothing is.
  DWORD Flush(std::string& failedPath);
  bool empty() const { return paths_.empty(); }

 private:
  std::vector<std::string> paths_;  // in the order added
  std::set<std::string> added_;
};
// The flush of FlushBatch::Flush, of the paths given.
DWORD FlushAllToDisk(const std::vector<std::string>& paths, std::string& failedPath);

// A seam for tests and benchmarks: while one lives, every flush that
// FlushToDisk, FlushBatch and WriteWholeFile make is answered by its
// function, given the Windows path being flushed (for a FlushBatch each
// path added, in order; for WriteWholeFile the file, then its directory),
// instead of by the disk: ERROR_SUCCESS passes without flushing, any other
// code fails that flush. One at a time.
class FlushOverride {
 public:
  explicit FlushOverride(std::function<DWORD(const std::string& path)> answer);
  ~FlushOverride();
  FlushOverride(const FlushOverride&) = delete;
  FlushOverride& operator=(const FlushOverride&) = delete;
};

// A file open by Windows path. Closed by the destructor.
class File {
 public:
  enum class Mode {
    Read,          // open existing, read only
    ReadWrite,     // open existing, read and write
    CreateAlways,  // create or truncate, write
    CreateNew,     // create, fail with ERROR_FILE_EXISTS when present
    Append,        // create when missing, writes go to the end
  };
  File() = default;

  DWORD Open(const std::string& winPath, Mode mode);
  DWORD OpenHost(const std::string& hostPath, Mode mode);  // for components and tests
  bool IsOpen() const { return handle_.valid(); }
  // Reads up to n bytes; *got is 0 at the end of the file.
  DWORD Read(void* buffer, std::size_t n, std::size_t* got);
  // Writes all n bytes or fails (ERROR_DISK_FULL, ERROR_WRITE_FAULT, ...).
  DWORD Write(const void* buffer, std::size_t n);
  DWORD Size(std::uint64_t& size) const;
  DWORD Sync();
  DWORD Close();

 private:
  NativeFile handle_;
};

// Reads or writes a whole small file by Windows path. WriteWholeFile
// replaces the file as a whole and flushes it and its directory (see
// FlushToDisk) before it returns; a failed flush fails the write.
DWORD ReadWholeFile(const std::string& path, std::string& out);
DWORD WriteWholeFile(const std::string& path, const std::string& data);

// FormatMessage: the system's text for a Win32 code or an HRESULT (without a
// trailing line end); when the system has none, the code in numbers
// ("Error 1234", "Error 0x80040154"), so a message never ends up blank.
std::string FormatMessage(DWORD code);
std::string FormatMessageHr(HRESULT hr);

}  // namespace platform
