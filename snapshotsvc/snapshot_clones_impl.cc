// Writable clones of a snapshot, for drills. A clone lives in the store's
// clones/ folder, one holder folder per clone with the tree in data/:
//
//   <root>/clones/<Name>-XXXXXX/data/
//
// The btrfs backend makes a writable subvolume snapshot of the read-only
// snapshot; the dir backend clones the tree with reflinks and refuses where
// the file system cannot share extents (a copy would cost what the engine's
// own copy costs, and space the drill did not count). Nothing of the
// snapshot changes; the clones/ folder is never listed as a snapshot.
#include "snapshotsvc/snapshot_clones_impl.h"

#include <fcntl.h>

#include <cstdio>

#include "platform/host.h"
#include "platform/kit/errno_map.h"
#include "platform/kit/file_io.h"
#include "platform/text.h"
#include "snapshotsvc/component_config.h"
#include "snapshotsvc/snapshot_lookup.h"
#include "snapshotsvc/snapshot_store.h"
#include "snapshotsvc/tree_ops.h"
#include "snapshotsvc/volume_backend.h"
#include "snapshotsvc/volume_target.h"

namespace snapshotsvc {

namespace kit = platform::kit;

namespace {

constexpr const char* kClonesDirName = "clones";

std::string ClonesDir(const SnapshotStore& store) { return store.root() + "/" + kClonesDirName; }

// Whether files in dir can share extents: a probe file cloned once.
bool SharesExtents(const std::string& dir) {
  const std::string from = dir + "/.probe-a", to = dir + "/.probe-b";
  bool shared = false;
  {
    kit::UniqueFd in = kit::OpenFile(from, O_RDWR | O_CREAT | O_TRUNC, 0600);
    kit::UniqueFd out = kit::OpenFile(to, O_RDWR | O_CREAT | O_TRUNC, 0600);
    const char block[4096] = {1};
    if (in.valid() && out.valid() && kit::PWriteAll(in.get(), block, sizeof block, 0) == 0) {
      (void)kit::CopyFileData(in.get(), out.get(), true, &shared);
    }
  }
  ::remove(from.c_str());
  ::remove(to.c_str());
  return shared;
}

HRESULT MakeClone(const ComponentConfig& config, const std::string& dataPath, const std::string& holder,
                  const std::string& target) {
  if (config.backend == Backend::Btrfs) return MakeBackend(Backend::Btrfs)->MakeWritableCopy(dataPath, target);
  if (!SharesExtents(holder)) return HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);
  CloneStats stats;
  HRESULT hr = CloneTree(dataPath, target, &stats);
  if (SUCCEEDED(hr) && stats.reflinked < stats.files) hr = HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);
  return hr;
}

}  // namespace

HRESULT SnapshotClonesImpl::CreateClone(const std::u16string& drive, const std::u16string& name,
                                        std::u16string& root) {
  FoundSnapshot found;
  HRESULT hr = FindSnapshot("clone", drive, name, found);
  if (FAILED(hr)) return hr;
  const SnapshotStore store(found.volume.storeRoot);
  const StoredSnapshot& snapshot = found.snapshot;
  if (const int err = kit::MakeDirectories(ClonesDir(store)); err != 0) {
    return kit::HresultFromErrno(err, kit::PathRole::Directory);
  }
  std::string holder = ClonesDir(store) + "/" + snapshot.folder + "-XXXXXX";
  if (const int err = kit::MakeTempDirectory(holder); err != 0) {
    return kit::HresultFromErrno(err, kit::PathRole::Directory);
  }
  const std::string target = holder + "/" + kDataDirName;
  hr = MakeClone(found.config, store.DataPath(snapshot.folder), holder, target);
  if (SUCCEEDED(hr)) hr = WindowsRoot(target, root);
  if (FAILED(hr)) (void)RemoveTree(holder);
  return hr;
}

HRESULT SnapshotClonesImpl::DeleteClone(const std::u16string& drive, const std::u16string& root) {
  const ComponentConfig config = LoadComponentConfig();
  if (!config.backendKnown) return E_UNEXPECTED;
  VolumeTarget volume;
  HRESULT hr = ResolveVolume(config, drive, volume);
  if (FAILED(hr)) return hr;
  std::string host;
  if (platform::ToHostPath(platform::WideToAnsi(root), host) != ERROR_SUCCESS) return E_INVALIDARG;
  while (host.size() > 1 && host.back() == '/') host.pop_back();
  // Only a clone's data/ folder, directly in a holder below clones/.
  const SnapshotStore store(volume.storeRoot);
  const std::string prefix = ClonesDir(store) + "/";
  const std::string suffix = std::string("/") + kDataDirName;
  if (host.size() <= prefix.size() + suffix.size() || host.compare(0, prefix.size(), prefix) != 0 ||
      host.compare(host.size() - suffix.size(), suffix.size(), suffix) != 0) {
    return E_INVALIDARG;
  }
  const std::string holder = host.substr(0, host.size() - suffix.size());
  const std::string folder = holder.substr(prefix.size());
  if (folder.find('/') != std::string::npos || folder == "." || folder == "..") return E_INVALIDARG;
  return RemoveTree(holder);
}

}  // namespace snapshotsvc
