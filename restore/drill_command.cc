#include "restore/drill_command.h"

#include "net/command.h"
#include "net/streaming.h"
#include "net/wire.h"
#include "net/wire_records.h"
#include "restore/drill.h"

namespace ark {

namespace {

// A drill proves a backup: its text is kept with the backup reports.
constexpr const char* kDrillReportType = "Backup";

bool HandleDrillSnapshot(platform::SOCKET client, Command& /*command*/) {
  SendByte(client, 1);
  DrillRequest request;
  RecvDominoServerInfo(client, request.server);
  RecvString(client, request.snapshotName);
  RecvString(client, request.scratch);
  request.keep = RecvBool(client);
  RunStreamingOperation(client, kDrillReportType, [&request] { PerformDrill(request); });
  return true;
}

}  // namespace

void RegisterDrillCommand() { RegisterCommand(CommandCode::DrillSnapshot, HandleDrillSnapshot); }

}  // namespace ark
