// Finding a stored snapshot for ark's own interfaces (its files, its clones),
// and handing a folder of the store out as a Windows path.
#pragma once

#include <string>

#include "platform/win_types.h"
#include "snapshotsvc/component_config.h"
#include "snapshotsvc/snapshot_store.h"
#include "snapshotsvc/volume_target.h"

namespace snapshotsvc {

struct FoundSnapshot {
  ComponentConfig config;
  VolumeTarget volume;
  StoredSnapshot snapshot;
};

// The stored snapshot NAME of DRIVE's volume. E_FAIL when the settings make
// OPERATION fail (a test's fault), E_UNEXPECTED when no backend is set.
HRESULT FindSnapshot(const char* operation, const std::u16string& drive, const std::u16string& name,
                     FoundSnapshot& found);

// hostPath as the Windows path under which the drive map reaches it;
// ARK_E_SNAPSHOT_NOT_REACHABLE when no drive does.
HRESULT WindowsRoot(const std::string& hostPath, std::u16string& root);

}  // namespace snapshotsvc
