// Archiving Domino's finished transaction logs into the ArkLedger directory.
#pragma once

#include <string>
#include <vector>

#include "common/records.h"

namespace ark {

// Archives the logs into the logs\ folder of ledgerDirectory (a snapshot's
// ArkLedger directory), up to the log in which the backup started (the
// directory's log_hint; without one, every log Domino offers). 0, also when
// the archiving stopped early (ArchiveTransactionLogs's result is not looked
// at: what was not archived waits for the next backup), or -1 for an empty
// ledger directory.
int CopyLogsToLedger(BackupRequest& request, const std::string& ledgerDirectory);

// Copies each log that Domino reports as ready for archiving into
// destination (a folder path ending in "\", created when missing) under its
// ArchivedLogName, flushes the copy and its folders to the disk and only then
// marks the log archived. Logs numbered firstLogLeft or above, and every log
// after one whose copy or mark failed, stay with Domino for a later
// archiving; a copy that could not be flushed is removed again. Writes
// "Archiving logs in log dir: <destination>\n" to standard output and its
// progress ("Archiving <log>", the reason a copy failed) through
// request.output. Appends to archived the number of each log whose copy was
// tried. 0 when the archiving ended as planned or stopped at a failed copy or
// mark; -1 when the runtime's archiving session cannot begin (after "ERROR: "
// and Domino's text), its list of logs fails with a status other than
// ERR_NO_MORE_LOGS, or the session cannot be ended after a failed copy or
// mark. The session is ended on every way out.
inline constexpr DWORD kArchiveEveryLog = 0xFFFFFFFF;
int ArchiveTransactionLogs(BackupRequest& request, const std::string& destination,
                           std::vector<DWORD>& archived, DWORD firstLogLeft = kArchiveEveryLog);

}  // namespace ark
