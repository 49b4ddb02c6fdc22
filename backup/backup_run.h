// The backup run of one server.
#pragma once

#include <string>

#include "common/records.h"

namespace ark {

// The whole backup of server (command 7): empties the report text, takes the
// machine-wide operation lock, refuses a server without archive logging and
// an ArkLedger on the server's data volume, starts the Domino runtime for the
// server's notes.ini, runs the snapshot cycle on the data volume's drive with
// RunBackupModeStep and CopyLogsToLedger as its steps, deletes the server's
// snapshots beyond request.keepCount when request.deleteExcessSnapshots is
// set, and sets BACKUPWIZ=1 in ark.ini. 0; or -1 after the failing step's
// message through request.output (the lock held elsewhere, a refusal, a
// runtime that does not start, a failed cycle, a failed retention: the new
// snapshot then stays). The runtime is ended and the lock released on every
// way out; the caller keeps both records.
int BackupServer(BackupRequest& request, DominoServerInfo& server);

// The snapshot cycle's backup-mode step (BackupSteps::backupMode): finds the
// databases below server.dataDirectory, puts them into backup mode, takes the
// snapshot `name` of the drive (the first character of drive) and reports it
// to the event log (0x40000071, or 0x4000006C when it fails), writes each
// database's change information below ledger and ends backup mode, then
// writes change_info_list, log_hint (from the first logged database) and
// disabled_databases. 0; -1 after its message through request.output when the
// data directory is missing, backup mode cannot start, the snapshot is not
// taken or the change information cannot be written (backup mode is given up
// then), and also when disabled_databases cannot be written (the snapshot
// stays; a restore refuses it). A change_info_list or log_hint that cannot be
// written is only warned of. No database stays in backup mode on any way out.
int RunBackupModeStep(BackupRequest& request, DominoServerInfo& server, const std::string& ledger,
                      const std::u16string& drive, const std::u16string& name);

}  // namespace ark
