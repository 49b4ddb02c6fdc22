// The component's snapshot interface: takes, lists, renames, deletes and
// restores the snapshots of the configured drives.
#pragma once

#include "snapshot/snapshot_service.h"

namespace snapshotsvc {

class SnapshotServiceImpl : public ark::snapshot::ISnapshotService {
 public:
  HRESULT CreateSnapShot(const ark::snapshot::SnapshotDriveSet& drives,
                         const std::u16string& name) override;
  HRESULT RestoreSnapShot(const std::u16string& drive, const std::u16string& name) override;
  HRESULT DeleteSnapShot(const std::u16string& drive, const std::u16string& name,
                         std::uint8_t* flag) override;
  HRESULT RenameSnapShot(const std::u16string& drive, const std::u16string& oldName,
                         const std::u16string& newName) override;
  HRESULT EnumerateSnapShots(const std::u16string& drive, ark::snapshot::SnapshotList& list,
                             std::uint32_t one) override;
  // Offers ISnapshotFiles (snapshot_files_impl.cc).
  HRESULT QueryInterface(const platform::GUID& iid, std::unique_ptr<platform::IUnknown>& out) override;
};

class DiskServiceImpl : public ark::snapshot::IDiskService {
 public:
  HRESULT ListDisks(std::vector<ark::snapshot::DiskInfo>& disks) override;
};

}  // namespace snapshotsvc
