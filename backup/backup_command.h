// The RunBackup command (code 7) of the client session.
#pragma once

namespace ark {

// Makes the session answer code 7: reply byte 1, read the BackupRequest and
// the server's DominoServerInfo, run BackupServer with its text streaming to
// the client, then "done" and a "Backup" report.
void RegisterBackupCommand();

}  // namespace ark
