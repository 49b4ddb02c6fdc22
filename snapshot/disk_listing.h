// Storage disks and volumes of the discovered servers, and their snapshots.
#pragma once

#include <vector>

#include "common/records.h"
#include "domino/discovery.h"

bool IsSnapshotComponentInstalled();
int ListSnapshotsAndDisks(DiscoveryResult& result);
void LoadAllSnapshotHints(std::vector<DominoServerInfo>& servers);
