#include "restore/restore_command.h"

#include "common/records.h"
#include "net/command.h"
#include "net/streaming.h"
#include "net/wire.h"
#include "net/wire_records.h"
#include "restore/restore_run.h"

namespace ark {

namespace {

bool RunRestore(platform::SOCKET client, Command& /*command*/) {
  SendByte(client, 1);
  RestoreRequest request;
  RecvRestoreRequest(client, request);
  RunStreamingOperation(client, "Restore", [&request] { PerformRestore(request); });
  return true;
}

}  // namespace

void RegisterRestoreCommand() { RegisterCommand(CommandCode::RunRestore, RunRestore); }

}  // namespace ark
