// Storage disks and volumes of the discovered servers, and their snapshots.
#pragma once

#include <vector>

#include "common/records.h"
#include "domino/discovery.h"

bool IsSnapshotComponentInstalled();
int ListSnapshotsAndDisks(DiscoveryResult& result);
void LoadAllSnapshotHints(std::vector<DominoServerInfo>& servers);

// DiscoverDominoServers, then, when it succeeded and the snapshot component is
// installed, the servers' disks, volumes, snapshots and hints. Returns
// DiscoverDominoServers's result.
std::int32_t DiscoverServersAndStorage(DiscoveryResult& result);
