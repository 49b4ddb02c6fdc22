#include "snapshotsvc/snapshot_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "platform/text.h"
#include "snapshotsvc/tree_ops.h"
#include "snapshotsvc/win32_errors.h"

namespace snapshotsvc {
namespace {

HRESULT EnsureDirectory(const std::string& path) {
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  if (ec) return HresultFromErrno(ec.value());
  return S_OK;
}

// rename without replacing an existing target.
HRESULT MoveNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return S_OK;
  if (errno == EINVAL) {  // a file system without RENAME_NOREPLACE
    struct stat st;
    if (::lstat(to.c_str(), &st) == 0) return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
    if (::rename(from.c_str(), to.c_str()) == 0) return S_OK;
  }
  if (errno == EEXIST || errno == ENOTEMPTY) return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
  return HresultFromErrno(errno);
}

}  // namespace

SnapshotStore::SnapshotStore(std::string root) : root_(std::move(root)) {}

std::string SnapshotStore::FolderPath(const std::string& folder) const {
  return SnapshotsDir() + "/" + folder;
}

std::string SnapshotStore::DataPath(const std::string& folder) const {
  return FolderPath(folder) + "/" + kDataDirName;
}

HRESULT SnapshotStore::OpenForChange() {
  HRESULT hr = EnsureDirectory(SnapshotsDir());
  if (SUCCEEDED(hr)) hr = EnsureDirectory(WorkDir());
  if (FAILED(hr)) return hr;
  UniqueFd fd(::open((root_ + "/lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
  if (!fd) return HresultFromErrno(errno);
  while (::flock(fd.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return HresultFromErrno(errno);
  }
  lock_ = std::move(fd);
  return S_OK;
}

HRESULT SnapshotStore::CleanWork() {
  UniqueDir dir(::opendir(WorkDir().c_str()));
  if (!dir) return errno == ENOENT ? S_OK : HresultFromErrno(errno);
  std::vector<std::string> names;
  for (;;) {
    errno = 0;
    dirent* entry = ::readdir(dir.get());
    if (entry == nullptr) break;
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  if (errno != 0) return HresultFromErrno(errno);
  for (const std::string& name : names) {
    HRESULT hr = RemoveTree(WorkDir() + "/" + name);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT SnapshotStore::List(std::vector<StoredSnapshot>& out) const {
  out.clear();
  UniqueDir dir(::opendir(SnapshotsDir().c_str()));
  if (!dir) return errno == ENOENT ? S_OK : HresultFromErrno(errno);
  for (;;) {
    errno = 0;
    dirent* entry = ::readdir(dir.get());
    if (entry == nullptr) break;
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    StoredSnapshot snapshot;
    snapshot.folder = name;
    // A folder without readable metadata is not a snapshot of ours.
    if (SUCCEEDED(ReadMetaFile(FolderPath(name), snapshot.meta))) out.push_back(std::move(snapshot));
  }
  if (errno != 0) return HresultFromErrno(errno);
  return S_OK;
}

HRESULT SnapshotStore::Find(std::string_view name, StoredSnapshot& out) const {
  std::vector<StoredSnapshot> all;
  HRESULT hr = List(all);
  if (FAILED(hr)) return hr;
  for (StoredSnapshot& snapshot : all) {
    if (platform::EqualsNoCase(snapshot.folder, name)) {
      out = std::move(snapshot);
      return S_OK;
    }
  }
  return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
}

HRESULT SnapshotStore::MakeWorkDir(std::string& path) const {
  std::string pattern = WorkDir() + "/tmp-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) return HresultFromErrno(errno);
  path = pattern;
  return S_OK;
}

HRESULT SnapshotStore::Publish(const std::string& workDir, const std::string& folder) const {
  HRESULT hr = MoveNoReplace(workDir, FolderPath(folder));
  if (FAILED(hr)) return hr;
  return FsyncDirectory(SnapshotsDir());
}

HRESULT SnapshotStore::Withdraw(const std::string& folder, std::string& workPath) const {
  std::string pattern = WorkDir() + "/del-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) return HresultFromErrno(errno);
  workPath = pattern + "/" + folder;
  HRESULT hr = MoveNoReplace(FolderPath(folder), workPath);
  if (FAILED(hr)) {
    ::rmdir(pattern.c_str());
    return hr;
  }
  return FsyncDirectory(SnapshotsDir());
}

HRESULT SnapshotStore::Restore(const std::string& workPath, const std::string& folder) const {
  return Publish(workPath, folder);
}

HRESULT SnapshotStore::RenameFolder(const std::string& from, const std::string& to) const {
  HRESULT hr = MoveNoReplace(FolderPath(from), FolderPath(to));
  if (FAILED(hr)) return hr;
  return FsyncDirectory(SnapshotsDir());
}

}  // namespace snapshotsvc
