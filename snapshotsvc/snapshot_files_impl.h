// ark's own interface of the component: the root folder of a snapshot, for
// reading, handed out by the snapshot interface's QueryInterface.
#pragma once

#include "snapshot/snapshot_service.h"

namespace snapshotsvc {

class SnapshotFilesImpl : public ark::snapshot::ISnapshotFiles {
 public:
  HRESULT GetSnapshotRoot(const std::u16string& drive, const std::u16string& name,
                          std::u16string& root) override;
};

}  // namespace snapshotsvc
