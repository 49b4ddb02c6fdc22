// A snapshot's root for reading: the data folder of the stored snapshot (the
// btrfs backend's read-only subvolume, the dir backend's copy), as the
// Windows path under which the drive map reaches it. On POSIX that is the
// drive whose directory holds the store (C:, the host root, for the default
// store of a host built under its root); on Windows the store is a folder of
// another drive already.
#include "snapshotsvc/snapshot_files_impl.h"

#include "snapshotsvc/snapshot_clones_impl.h"
#include "snapshotsvc/snapshot_lookup.h"
#include "snapshotsvc/snapshot_service_impl.h"

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
  FoundSnapshot found;
  const HRESULT hr = FindSnapshot("root", drive, name, found);
  if (FAILED(hr)) return hr;
  return WindowsRoot(SnapshotStore(found.volume.storeRoot).DataPath(found.snapshot.folder), root);
}

}  // namespace snapshotsvc
