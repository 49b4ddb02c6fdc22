#include "snapshotsvc/snapshot_store.h"

#include <fcntl.h>

#include <cerrno>

#include "platform/kit/errno_map.h"
#include "platform/kit/file_io.h"
#include "platform/text.h"
#include "snapshotsvc/tree_ops.h"

namespace snapshotsvc {
namespace {

namespace kit = platform::kit;

HRESULT EnsureDirectory(const std::string& path) {
  return kit::HresultFromResult(kit::MakeDirectories(path), kit::PathRole::Directory);
}

// rename without replacing an existing target.
HRESULT MoveNoReplace(const std::string& from, const std::string& to) {
  const int err = kit::RenameNoReplace(from, to);
  if (err == EEXIST || err == ENOTEMPTY) return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
  return kit::HresultFromResult(err);
}

// The entry names of dir; a missing dir has none.
HRESULT ListDir(const std::string& dir, std::vector<std::string>& names) {
  const int err = kit::ListNames(dir, names);
  return err == ENOENT ? S_OK : kit::HresultFromResult(err);
}

HRESULT SyncDir(const std::string& dir) { return kit::HresultFromResult(kit::SyncDirectory(dir)); }

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
  kit::UniqueFd fd = kit::OpenFile(root_ + "/lock", O_RDWR | O_CREAT, 0644);
  if (!fd.valid()) return kit::HresultFromErrno(errno);
  if (const int err = kit::LockWait(fd.get(), true); err != 0) return kit::HresultFromErrno(err);
  lock_ = std::move(fd);
  return S_OK;
}

HRESULT SnapshotStore::CleanWork() {
  std::vector<std::string> names;
  if (HRESULT hr = ListDir(WorkDir(), names); FAILED(hr)) return hr;
  for (const std::string& name : names) {
    HRESULT hr = RemoveTree(WorkDir() + "/" + name);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT SnapshotStore::List(std::vector<StoredSnapshot>& out) const {
  out.clear();
  std::vector<std::string> names;
  if (HRESULT hr = ListDir(SnapshotsDir(), names); FAILED(hr)) return hr;
  for (const std::string& name : names) {
    StoredSnapshot snapshot;
    snapshot.folder = name;
    // A folder without readable metadata is not a snapshot of ours.
    if (SUCCEEDED(ReadMetaFile(FolderPath(name), snapshot.meta))) out.push_back(std::move(snapshot));
  }
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
  if (const int err = kit::MakeTempDirectory(pattern); err != 0) {
    return kit::HresultFromErrno(err, kit::PathRole::Directory);
  }
  path = pattern;
  return S_OK;
}

HRESULT SnapshotStore::Publish(const std::string& workDir, const std::string& folder) const {
  HRESULT hr = MoveNoReplace(workDir, FolderPath(folder));
  if (FAILED(hr)) return hr;
  return SyncDir(SnapshotsDir());
}

HRESULT SnapshotStore::Withdraw(const std::string& folder, std::string& workPath) const {
  std::string pattern = WorkDir() + "/del-XXXXXX";
  if (const int err = kit::MakeTempDirectory(pattern); err != 0) {
    return kit::HresultFromErrno(err, kit::PathRole::Directory);
  }
  workPath = pattern + "/" + folder;
  HRESULT hr = MoveNoReplace(FolderPath(folder), workPath);
  if (FAILED(hr)) {
    kit::RemoveEmptyDirectory(pattern);
    return hr;
  }
  return SyncDir(SnapshotsDir());
}

HRESULT SnapshotStore::Restore(const std::string& workPath, const std::string& folder) const {
  return Publish(workPath, folder);
}

HRESULT SnapshotStore::RenameFolder(const std::string& from, const std::string& to) const {
  HRESULT hr = MoveNoReplace(FolderPath(from), FolderPath(to));
  if (FAILED(hr)) return hr;
  return SyncDir(SnapshotsDir());
}

}  // namespace snapshotsvc
