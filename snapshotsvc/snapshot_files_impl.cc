// A snapshot's root for reading: the data folder of the stored snapshot (the
// btrfs backend's read-only subvolume, the dir backend's copy), as the
// Windows path under which the drive map reaches it. On POSIX that is the
// drive whose directory holds the store (C:, the host root, for the default
// store of a host built under its root); on Windows the store is a folder of
// another drive already.
#include "snapshotsvc/snapshot_files_impl.h"

#include "platform/host.h"
#include "platform/text.h"
#include "snapshotsvc/component_config.h"
#include "snapshotsvc/snapshot_clones_impl.h"
#include "snapshotsvc/snapshot_service_impl.h"
#include "snapshotsvc/snapshot_store.h"
#include "snapshotsvc/volume_target.h"

namespace snapshotsvc {

HRESULT SnapshotServiceImpl::QueryInterface(const platform::GUID& iid,
                                            std::unique_ptr<platform::IUnknown>& out) {
  out.reset();
  if (iid == ark::snapshot::IID_ISnapshotClones) {
    out = std::make_unique<SnapshotClonesImpl>();
    return S_OK;
  }
  if (!(iid == ark::snapshot::IID_ISnapshotFiles)) return E_NOINTERFACE;
  out = std::make_unique<SnapshotFilesImpl>();
  return S_OK;
}

HRESULT SnapshotFilesImpl::GetSnapshotRoot(const std::u16string& drive, const std::u16string& name,
                                           std::u16string& root) {
  const ComponentConfig config = LoadComponentConfig();
  if (config.FailsOn("root")) return E_FAIL;
  if (!config.backendKnown) return E_UNEXPECTED;
  std::string ansiName;
  HRESULT hr = ValidateSnapshotName(name, ansiName);
  if (FAILED(hr)) return hr;
  VolumeTarget volume;
  hr = ResolveVolume(config, drive, volume);
  if (FAILED(hr)) return hr;
  const SnapshotStore store(volume.storeRoot);
  StoredSnapshot snapshot;
  hr = store.Find(ansiName, snapshot);
  if (FAILED(hr)) return hr;
  std::string winPath;
  const DWORD err = platform::ToWindowsPath(store.DataPath(snapshot.folder), winPath);
  if (err == ERROR_PATH_NOT_FOUND) return ark::snapshot::ARK_E_SNAPSHOT_NOT_REACHABLE;
  if (err != ERROR_SUCCESS) return HRESULT_FROM_WIN32(err);
  root = platform::AnsiToWide(winPath);
  return S_OK;
}

}  // namespace snapshotsvc
