// The snapshot cycle around a backup, and taking one snapshot.
#pragma once

#include <string>

#include "common/records.h"
#include "snapshot/snapshot_service.h"

int RunSnapshotCycle(const std::u16string& driveLetter, BackupRequest& request,
                     DominoServerInfo& server);
// 0 on success; -1 with errorText set on failure.
int TakeSnapshot(const std::u16string& driveLetter, const std::u16string& name, int reserved,
                 std::string& errorText);
int RecordRecentSnapshotTime(const std::u16string& driveLetter, BackupRequest& request,
                             DominoServerInfo& server);
