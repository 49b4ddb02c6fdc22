// Archiving Domino's finished transaction logs into the ArkLedger directory.
#pragma once

#include <string>
#include <vector>

#include "common/records.h"

// Archives the logs into the ledger directory's logs\ folder, up to the log
// in which the backup started (the directory's log_hint); 0, or -1 for an
// empty ledger directory.
int CopyLogsToLedger(BackupRequest& request, DominoServerInfo& server,
                     const std::string& ledgerDirectory);
// Copies each log that Domino reports as ready into destination (ending in
// "\\"), flushes the copy to the disk and only then marks it archived. Logs
// numbered firstLogLeft or above are left for a later archiving.
inline constexpr DWORD kArchiveEveryLog = 0xFFFFFFFF;
int ArchiveTransactionLogs(BackupRequest& request, void* progressWindow,
                           const std::string& destination, std::vector<DWORD>& archived,
                           DWORD firstLogLeft = kArchiveEveryLog);
void FindTransactionLogs(const std::string& directory, std::vector<std::string>& list);
