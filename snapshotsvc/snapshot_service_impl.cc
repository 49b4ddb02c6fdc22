#include "snapshotsvc/snapshot_service_impl.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/kit/errno_map.h"
#include "platform/kit/file_io.h"
#include "platform/text.h"
#include "platform/volume_freeze.h"
#include "snapshotsvc/component_config.h"
#include "snapshotsvc/snapshot_store.h"
#include "snapshotsvc/tree_ops.h"
#include "snapshotsvc/volume_backend.h"
#include "snapshotsvc/volume_target.h"

namespace snapshotsvc {
namespace {


HRESULT Trace(const char* operation, const std::string& detail, HRESULT hr) {
  if (FAILED(hr)) {
    char text[64];
    std::snprintf(text, sizeof text, " failed: 0x%08X\n", unsigned(hr));
    platform::OutputDebugString(std::string("snapshot component: ") + operation + " " + detail +
                                text);
  }
  return hr;
}

// Everything one call needs: the configuration, the backend and the drive.
struct CallContext {
  ComponentConfig config;
  std::unique_ptr<VolumeBackend> backend;
};

HRESULT BeginCall(const char* operation, CallContext& ctx) {
  ctx.config = LoadComponentConfig();
  if (ctx.config.FailsOn(operation)) return E_FAIL;
  if (!ctx.config.backendKnown) return E_UNEXPECTED;
  ctx.backend = MakeBackend(ctx.config.backend);
  return S_OK;
}

HRESULT Capture(const VolumeTarget& volume, const VolumeBackend& backend,
                const SnapshotStore& store, const std::string& work, const std::string& name) {
  SnapshotMeta meta;
  meta.name = name;
  meta.backend = BackendName(backend.kind());
  {
    platform::VolumeLock freeze;
    HRESULT hr = FreezeVolume(freeze, volume.letter);
    if (FAILED(hr)) return hr;
    FILETIME now;
    platform::GetSystemTimeAsFileTime(now);
    meta.creationTime = FileTimeToU64(now);
    hr = backend.Capture(volume.hostDir, work + "/" + kDataDirName);
    if (FAILED(hr)) return hr;
  }
  HRESULT hr = SyncFileSystem(work);
  if (SUCCEEDED(hr)) hr = WriteMetaFile(work, meta);
  if (SUCCEEDED(hr)) hr = store.Publish(work, name);
  return hr;
}

HRESULT CreateOne(const VolumeTarget& volume, const VolumeBackend& backend,
                  const std::string& name) {
  HRESULT hr = backend.CheckVolume(volume.hostDir, volume.storeRoot);
  if (FAILED(hr)) return hr;
  SnapshotStore store(volume.storeRoot);
  hr = store.OpenForChange();
  if (FAILED(hr)) return hr;
  // What interrupted calls left behind; a failure in the store only costs
  // space, but a volume that an interrupted restore left half moved is not
  // captured before it is whole.
  (void)store.CleanWork();
  hr = SettleInterruptedRevert(volume);
  if (FAILED(hr)) return hr;
  StoredSnapshot existing;
  hr = store.Find(name, existing);
  if (SUCCEEDED(hr)) return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
  if (hr != HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) return hr;
  std::string work;
  hr = store.MakeWorkDir(work);
  if (FAILED(hr)) return hr;
  hr = Capture(volume, backend, store, work, name);
  if (FAILED(hr)) (void)RemoveTree(work);
  return hr;
}

HRESULT DeleteOne(const VolumeTarget& volume, const VolumeBackend& backend,
                  const std::string& name) {
  SnapshotStore store(volume.storeRoot);
  HRESULT hr = store.OpenForChange();
  if (FAILED(hr)) return hr;
  StoredSnapshot snapshot;
  hr = store.Find(name, snapshot);
  if (FAILED(hr)) return hr;
  std::string withdrawn;
  hr = store.Withdraw(snapshot.folder, withdrawn);
  if (FAILED(hr)) return hr;
  hr = backend.RemoveData(withdrawn + "/" + kDataDirName);
  if (FAILED(hr)) {
    // An atomic removal failed as a whole: the snapshot is intact, keep it.
    if (backend.RemovalIsAtomic()) (void)store.Restore(withdrawn, snapshot.folder);
    return hr;
  }
  std::string holder, ignored;
  platform::kit::SplitPath(withdrawn, holder, ignored);
  return RemoveTree(holder);
}

HRESULT RestoreOne(const VolumeTarget& volume, const VolumeBackend& backend,
                   const std::string& name) {
  HRESULT hr = backend.CheckVolume(volume.hostDir, volume.storeRoot);
  if (FAILED(hr)) return hr;
  SnapshotStore store(volume.storeRoot);
  hr = store.OpenForChange();
  if (FAILED(hr)) return hr;
  StoredSnapshot snapshot;
  hr = store.Find(name, snapshot);
  if (FAILED(hr)) return hr;
  return RevertVolume(volume, backend, store.DataPath(snapshot.folder));
}

HRESULT RenameOne(const VolumeTarget& volume, const std::string& oldName,
                  const std::string& newName) {
  SnapshotStore store(volume.storeRoot);
  HRESULT hr = store.OpenForChange();
  if (FAILED(hr)) return hr;
  StoredSnapshot snapshot;
  hr = store.Find(oldName, snapshot);
  if (FAILED(hr)) return hr;
  if (snapshot.folder == newName) return S_OK;
  StoredSnapshot other;
  hr = store.Find(newName, other);
  if (SUCCEEDED(hr) && other.folder != snapshot.folder) {
    return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
  }
  hr = store.RenameFolder(snapshot.folder, newName);
  if (FAILED(hr)) return hr;
  snapshot.meta.name = newName;
  hr = WriteMetaFile(store.FolderPath(newName), snapshot.meta);
  if (FAILED(hr)) (void)store.RenameFolder(newName, snapshot.folder);
  return hr;
}

using SnapshotOperation = HRESULT (*)(const VolumeTarget&, const VolumeBackend&, const std::string&);

// One call on one named snapshot of one drive: the component's state, the
// name's check, the drive's volume, the operation, and its trace.
HRESULT OnOneSnapshot(const char* operation, const std::u16string& drive, const std::u16string& name,
                      SnapshotOperation run) {
  CallContext ctx;
  HRESULT hr = BeginCall(operation, ctx);
  if (FAILED(hr)) return hr;
  std::string ansiName;
  hr = ValidateSnapshotName(name, ansiName);
  if (FAILED(hr)) return hr;
  VolumeTarget volume;
  hr = ResolveVolume(ctx.config, drive, volume);
  if (SUCCEEDED(hr)) hr = run(volume, *ctx.backend, ansiName);
  return Trace(operation, ansiName, hr);
}

}  // namespace

HRESULT SnapshotServiceImpl::CreateSnapShot(const ark::snapshot::SnapshotDriveSet& drives,
                                            const std::u16string& name) {
  CallContext ctx;
  HRESULT hr = BeginCall("create", ctx);
  if (FAILED(hr)) return hr;
  std::string ansiName;
  hr = ValidateSnapshotName(name, ansiName);
  if (FAILED(hr)) return hr;
  if (drives.drives.empty()) return E_INVALIDARG;
  std::vector<VolumeTarget> volumes;
  for (const ark::snapshot::SNAPSHOT_DRIVE_INFO& drive : drives.drives) {
    VolumeTarget volume;
    hr = ResolveVolume(ctx.config, drive.DRIVELETTER, volume);
    if (FAILED(hr)) return Trace("create", ansiName, hr);
    volumes.push_back(std::move(volume));
  }
  // All drives or none.
  for (std::size_t i = 0; i < volumes.size(); ++i) {
    hr = CreateOne(volumes[i], *ctx.backend, ansiName);
    if (FAILED(hr)) {
      while (i-- > 0) (void)DeleteOne(volumes[i], *ctx.backend, ansiName);
      return Trace("create", ansiName, hr);
    }
  }
  return S_OK;
}

HRESULT SnapshotServiceImpl::RestoreSnapShot(const std::u16string& drive,
                                             const std::u16string& name) {
  return OnOneSnapshot("restore", drive, name, RestoreOne);
}

HRESULT SnapshotServiceImpl::DeleteSnapShot(const std::u16string& drive,
                                            const std::u16string& name, std::uint8_t* flag) {
  (void)flag;  // not used by this component
  return OnOneSnapshot("delete", drive, name, DeleteOne);
}

HRESULT SnapshotServiceImpl::RenameSnapShot(const std::u16string& drive,
                                            const std::u16string& oldName,
                                            const std::u16string& newName) {
  CallContext ctx;
  HRESULT hr = BeginCall("rename", ctx);
  if (FAILED(hr)) return hr;
  std::string ansiOld, ansiNew;
  hr = ValidateSnapshotName(oldName, ansiOld);
  if (SUCCEEDED(hr)) hr = ValidateSnapshotName(newName, ansiNew);
  if (FAILED(hr)) return hr;
  VolumeTarget volume;
  hr = ResolveVolume(ctx.config, drive, volume);
  if (SUCCEEDED(hr)) hr = RenameOne(volume, ansiOld, ansiNew);
  return Trace("rename", ansiOld, hr);
}

HRESULT SnapshotServiceImpl::EnumerateSnapShots(const std::u16string& drive,
                                                ark::snapshot::SnapshotList& list, std::uint32_t one) {
  (void)one;
  list.entries.clear();
  CallContext ctx;
  HRESULT hr = BeginCall("enumerate", ctx);
  if (FAILED(hr)) return hr;
  VolumeTarget volume;
  hr = ResolveVolume(ctx.config, drive, volume);
  if (FAILED(hr)) return hr;
  std::vector<StoredSnapshot> stored;
  hr = SnapshotStore(volume.storeRoot).List(stored);
  if (FAILED(hr)) return hr;
  // Newest first; equal times in name order, so the order is stable.
  std::sort(stored.begin(), stored.end(), [](const StoredSnapshot& a, const StoredSnapshot& b) {
    if (a.meta.creationTime != b.meta.creationTime) return a.meta.creationTime > b.meta.creationTime;
    return a.folder < b.folder;
  });
  for (const StoredSnapshot& snapshot : stored) {
    ark::snapshot::SnapshotInfo info;
    info.name = platform::AnsiToWide(snapshot.folder);
    info.creationTime = U64ToFileTime(snapshot.meta.creationTime);
    list.entries.push_back(std::move(info));
  }
  return S_OK;
}

HRESULT DiskServiceImpl::ListDisks(std::vector<ark::snapshot::DiskInfo>& disks) {
  disks.clear();
  const ComponentConfig config = LoadComponentConfig();
  if (config.FailsOn("listdisks")) return E_FAIL;
  for (const DiskEntry& entry : config.disks) {
    ark::snapshot::DiskInfo disk;
    disk.diskPath = platform::AnsiToWide("/" + entry.volumeName + "/" + entry.diskName);
    disk.devicePath = platform::AnsiToWide(entry.devicePath);
    for (char letter : entry.driveLetters) disk.driveLetters.push_back(std::u16string(1, letter));
    disks.push_back(std::move(disk));
  }
  return S_OK;
}

}  // namespace snapshotsvc
