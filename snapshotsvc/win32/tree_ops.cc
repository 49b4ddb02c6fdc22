// Whole-tree operations on Windows, on the platform's file calls: a clone is
// a copy of every directory and file (CopyFileA keeps each file's times);
// removal is the shell's tree delete. Windows has no btrfs.
#include "platform/files.h"
#include "platform/kit/file_io.h"
#include "snapshotsvc/tree_ops.h"

namespace snapshotsvc {
namespace {

using platform::kit::JoinHostPath;

HRESULT FromCode(DWORD code) { return code == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(code); }

HRESULT CloneDirectory(const std::string& source, const std::string& target, CloneStats& stats) {
  if (HRESULT hr = FromCode(platform::CreateDirectory(target)); FAILED(hr)) return hr;
  std::vector<platform::DirectoryName> names;
  if (HRESULT hr = FromCode(platform::ListDirectoryNames(source, names)); FAILED(hr)) return hr;
  for (const platform::DirectoryName& entry : names) {
    const std::string from = JoinHostPath(source, entry.name);
    const std::string to = JoinHostPath(target, entry.name);
    HRESULT hr;
    if (entry.directory) {
      hr = CloneDirectory(from, to, stats);
    } else {
      hr = FromCode(platform::CopyFile(from, to, true));
      // A file removed while the tree was walked is simply not there.
      if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) continue;
      std::uint64_t size = 0;
      if (SUCCEEDED(hr) && platform::GetFileSize(to, size) == ERROR_SUCCESS) stats.bytes += size;
      ++stats.files;
    }
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

}  // namespace

HRESULT CloneTree(const std::string& source, const std::string& target, CloneStats* stats) {
  const DWORD attributes = platform::GetFileAttributes(source);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
  }
  CloneStats local;
  const HRESULT hr = CloneDirectory(source, target, local);
  if (stats != nullptr) *stats = local;
  return hr;
}

HRESULT RemoveTree(const std::string& path) {
  const DWORD attributes = platform::GetFileAttributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return S_OK;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return FromCode(platform::DeleteFile(path));
  return FromCode(platform::DeleteTree(path));
}

namespace {

constexpr std::uint64_t kClusterBytes = 4096;

HRESULT AddCost(const std::string& dir, std::uint64_t& bytes) {
  std::vector<platform::DirectoryName> names;
  if (HRESULT hr = FromCode(platform::ListDirectoryNames(dir, names)); FAILED(hr)) return hr;
  bytes += kClusterBytes;
  for (const platform::DirectoryName& entry : names) {
    const std::string path = JoinHostPath(dir, entry.name);
    if (entry.directory) {
      if (HRESULT hr = AddCost(path, bytes); FAILED(hr)) return hr;
      continue;
    }
    std::uint64_t size = 0;
    if (HRESULT hr = FromCode(platform::GetFileSize(path, size)); FAILED(hr)) return hr;
    bytes += (size + kClusterBytes - 1) / kClusterBytes * kClusterBytes;
  }
  return S_OK;
}

}  // namespace

// Windows copies every file (no extents are shared).
HRESULT CloneCost(const std::string& source, const std::string&, std::uint64_t& bytes) {
  bytes = 0;
  return AddCost(source, bytes);
}

HRESULT FreeBytes(const std::string& path, std::uint64_t& bytes) {
  return FromCode(platform::GetDiskFreeSpace(path, bytes));
}

namespace {

HRESULT CollectFiles(const std::string& dir, std::vector<std::string>& files) {
  std::vector<platform::DirectoryName> names;
  if (HRESULT hr = FromCode(platform::ListDirectoryNames(dir, names)); FAILED(hr)) return hr;
  for (const platform::DirectoryName& entry : names) {
    const std::string path = JoinHostPath(dir, entry.name);
    if (!entry.directory) {
      files.push_back(path);
    } else if (HRESULT hr = CollectFiles(path, files); FAILED(hr)) {
      return hr;
    }
  }
  return S_OK;
}

}  // namespace

// A copy or a move is on the disk before the next step relies on it: the
// volume is flushed once through its handle where this process may open it
// (LocalSystem, administrators), else every file below path one by one.
// NTFS journals the renames themselves.
HRESULT SyncFileSystem(const std::string& path) {
  std::vector<std::string> files{path};
  const DWORD attributes = platform::GetFileAttributes(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    if (HRESULT hr = CollectFiles(path, files); FAILED(hr)) return hr;
  }
  std::string failed;
  return FromCode(platform::FlushAllToDisk(files, failed));
}

bool IsOnBtrfs(const std::string&) { return false; }

bool IsBtrfsSubvolume(const std::string&) { return false; }

}  // namespace snapshotsvc
