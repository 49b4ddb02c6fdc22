#include "service/components.h"

#include "backup/backup_command.h"
#include "domino/domino_api.h"
#include "dominosim/sim_api.h"
#include "restore/restore_command.h"
#include "restore/restore_db_command.h"
#include "service/discover_command.h"
#include "snapshotsvc/configure.h"
#include "verify/verify_command.h"

namespace ark {

void InstallComponents() {
  // The Domino runtime this program links, the snapshot component's class
  // servers, then the commands of the long operations.
  SetDominoApi(&dominosim::Api());
  snapshotsvc::RegisterClassServers();
  RegisterDiscoverCommand();
  RegisterBackupCommand();
  RegisterRestoreCommand();
  RegisterRestoreDatabasesCommand();
  RegisterVerifyCommand();
}

}  // namespace ark
