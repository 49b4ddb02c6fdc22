// Storage disks and volumes of the discovered servers, and their snapshots.
#pragma once

#include <vector>

#include "common/records.h"
#include "domino/discovery.h"

namespace ark {

// Whether the disk class of the snapshot component can be reached.
bool IsSnapshotComponentInstalled();
// Ties the discovered servers to the storage's disks: adds one entry per
// disk to result.disks (by volume name, with its drive letters and a copy of
// every server as it stands after that disk), and gives each server whose
// data or log directory lies on one of a disk's drives that volume as its
// dataVolume or logVolume. The servers' snapshots are LoadAllSnapshotHints's.
// 0, also when the component answers with a success code other than S_OK
// (nothing is changed then); -1 when the disk class or interface cannot be
// obtained or ListDisks fails (nothing changed). Writes nothing through
// Output; the component is released on return.
int ListSnapshotsAndDisks(DiscoveryResult& result);
// Fills each server's snapshots from its hint file (LoadSnapshotHints). A
// server whose hint path cannot be formed or whose file can be neither read
// nor created keeps its snapshots; one whose volume cannot be listed is left
// with none.
void LoadAllSnapshotHints(std::vector<DominoServerInfo>& servers);

// DiscoverDominoServers, then, when it succeeded and the snapshot component is
// installed, the servers' disks, volumes, snapshots and hints. Returns
// DiscoverDominoServers's result.
std::int32_t DiscoverServersAndStorage(DiscoveryResult& result);

}  // namespace ark
