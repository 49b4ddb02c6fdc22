#include "service/components.h"

#include "backup/backup_command.h"
#include "restore/drill_command.h"
#include "restore/restore_command.h"
#include "restore/restore_db_command.h"
#include "service/discover_command.h"
#include "verify/verify_command.h"

namespace ark {

void RegisterOperationCommands() {
  RegisterDiscoverCommand();
  RegisterBackupCommand();
  RegisterRestoreCommand();
  RegisterInterruptedRestoresCommand();
  RegisterRestoreDatabasesCommand();
  RegisterDrillCommand();
  RegisterVerifyCommand();
}

}  // namespace ark
