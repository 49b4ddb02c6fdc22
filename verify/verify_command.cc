// The VerifySnapshot command: the client sends the server record and a
// snapshot name; the findings stream back while the snapshots are checked.
#include "verify/verify_command.h"

#include "common/output_sink.h"
#include "net/command.h"
#include "net/streaming.h"
#include "net/wire.h"
#include "net/wire_records.h"
#include "verify/snapshot_verification.h"

namespace ark {

namespace {

// A verification is part of the backup's story: its text is kept with the
// backup reports.
constexpr const char* kVerifyReportType = "Backup";

bool HandleVerifySnapshot(platform::SOCKET client, Command& /*command*/) {
  SendByte(client, 1);
  DominoServerInfo server;
  RecvDominoServerInfo(client, server);
  std::string snapshotName;
  RecvString(client, snapshotName);
  RunStreamingOperation(client, kVerifyReportType, [&] {
    OutputSink sink;
    VerifySnapshots(sink, server, snapshotName);
  });
  return true;
}

}  // namespace

void RegisterVerifyCommand() { RegisterCommand(CommandCode::VerifySnapshot, HandleVerifySnapshot); }

}  // namespace ark
