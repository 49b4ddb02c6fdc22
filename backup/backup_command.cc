// The RunBackup command: the client sends the request and the server record,
// the run's text streams back to it while the backup runs.
#include "backup/backup_command.h"

#include "backup/backup_run.h"
#include "net/command.h"
#include "net/streaming.h"
#include "net/wire.h"
#include "net/wire_records.h"

namespace ark {

namespace {

constexpr const char* kBackupReportType = "Backup";

bool HandleRunBackup(platform::SOCKET client, Command& /*command*/) {
  SendByte(client, 1);
  BackupRequest request;
  RecvBackupRequest(client, request);
  DominoServerInfo server;
  RecvDominoServerInfo(client, server);
  RunStreamingOperation(client, kBackupReportType, [&] { BackupServer(request, server); });
  return true;
}

}  // namespace

void RegisterBackupCommand() { RegisterCommand(CommandCode::RunBackup, HandleRunBackup); }

}  // namespace ark
