// Archiving Domino's finished transaction logs into the ArkLedger directory.
#pragma once

#include <string>
#include <vector>

#include "common/records.h"

int CopyLogsToLedger(BackupRequest& request, DominoServerInfo& server,
                     const std::string& ledgerDirectory);
int ArchiveTransactionLogs(BackupRequest& request, void* progressWindow,
                           const std::string& destination, std::vector<DWORD>& archived);
void FindTransactionLogs(const std::string& directory, std::vector<std::string>& list);
