// The snapshot cycle around a backup, and taking one snapshot.
#pragma once

#include <functional>
#include <string>

#include "common/records.h"
#include "snapshot/snapshot_service.h"

// The Domino side of a backup, run by the cycle between the rename of the
// recent snapshot and the copy of the logs: puts the databases in backup
// mode, has the component take the snapshot named `name` of `drive`, saves
// the change information below `ledger`. 0, or -1 after its message.
using BackupModeStep =
    std::function<int(BackupRequest& request, DominoServerInfo& server, const std::string& ledger,
                      snapshot::ISnapshotService* component, const std::u16string& drive,
                      const std::u16string& name)>;

// One snapshot cycle of a backup: renames the recent snapshot to its dated
// name, runs backupModeStep, saves the hint file and the logs to the
// ArkLedger directory. 0, or -1 after its message through server.output;
// holds nothing on return.
int RunSnapshotCycle(const std::u16string& driveLetter, BackupRequest& request,
                     DominoServerInfo& server, const BackupModeStep& backupModeStep);
// 0 on success; -1 with errorText set on failure.
int TakeSnapshot(const std::u16string& driveLetter, const std::u16string& name, int reserved,
                 std::string& errorText);
int RecordRecentSnapshotTime(const std::u16string& driveLetter, BackupRequest& request,
                             DominoServerInfo& server);
