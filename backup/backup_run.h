// The backup run of one server.
#pragma once

#include <string>

#include "common/records.h"
#include "snapshot/snapshot_service.h"

int BackupServer(BackupRequest& request, DominoServerInfo& server);
int RunBackupModeStep(BackupRequest& request, DominoServerInfo& server, const std::string& ledger,
                      snapshot::ISnapshotService* component, const std::u16string& drive,
                      const std::u16string& name);
