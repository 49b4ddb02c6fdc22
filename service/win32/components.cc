// The parts of the Windows process that come from elsewhere.
//
// The Domino API of a Windows host is the server's own nnotes.dll, bound by
// ordinal; this build does not bind it yet. No runtime is installed, so
// every runtime start fails with ERR_NO_RUNTIME ("Domino runtime not
// installed"): discovery names such a server "Bad Notes Installation",
// backups and restores stop at the runtime start with their messages, and
// the service itself runs and answers. The snapshot component is reached
// through the system's COM.
#include "service/components.h"

#include "backup/backup_command.h"
#include "restore/restore_command.h"
#include "service/discover_command.h"
#include "service/event_log.h"
#include "verify/verify_command.h"

void InstallComponents() {
  DebugTrace("Domino runtime not installed: this build does not load nnotes.dll, so no Domino runtime starts");
  RegisterDiscoverCommand();
  RegisterBackupCommand();
  RegisterRestoreCommand();
  RegisterVerifyCommand();
}
