// ark's own interface of the component: writable clones of a snapshot
// beside it in its store, for drills, handed out by the snapshot interface's
// QueryInterface.
#pragma once

#include "snapshot/snapshot_service.h"

namespace snapshotsvc {

class SnapshotClonesImpl : public ark::snapshot::ISnapshotClones {
 public:
  HRESULT CreateClone(const std::u16string& drive, const std::u16string& name, std::u16string& root) override;
  HRESULT DeleteClone(const std::u16string& drive, const std::u16string& root) override;
};

}  // namespace snapshotsvc
