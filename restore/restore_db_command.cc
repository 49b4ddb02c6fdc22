#include "restore/restore_db_command.h"

#include "common/records.h"
#include "net/command.h"
#include "net/streaming.h"
#include "net/wire.h"
#include "net/wire_records.h"
#include "restore/database_restore.h"

namespace ark {

namespace {

bool HandleRestoreDatabases(platform::SOCKET client, Command& /*command*/) {
  SendByte(client, 1);
  DatabaseRestoreRequest request;
  RecvDatabaseRestoreRequest(client, request);
  if (request.target > kRestoreToMoment || request.placement > kPlaceInPlace) {
    SendString(client, "ERROR: Unknown restore target " + std::to_string(request.target) + " or placement " +
                           std::to_string(request.placement) + "; nothing was restored.\r\n");
    SendString(client, "done");
    return true;
  }
  RunStreamingOperation(client, "Restore", [&request] { PerformDatabaseRestore(request); });
  return true;
}

}  // namespace

void RegisterRestoreDatabasesCommand() {
  RegisterCommand(CommandCode::RestoreDatabases, HandleRestoreDatabases);
}

}  // namespace ark
