// backup SERVER [--keep N]: backs up one Domino server of the host and shows
// the running text of the run as it arrives.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "net/wire.h"
#include "net/wire_records.h"
#include "tools/arkctl/command_group.h"
#include "tools/arkctl/connection.h"
#include "tools/arkctl/server_lookup.h"

namespace ark {

namespace {

// The run's last line when it completed.
constexpr const char* kCompletedLine = "Backup Completed for Server";

struct BackupArgs {
  std::string server;
  std::uint32_t keep = 0;
  bool keepGiven = false;
};

void Backup(const CtlContext& context, const BackupArgs& args) {
  ServiceConnection connection(context);
  DominoServerInfo server = DiscoverServerRecord(connection, "backup", args.server);

  connection.SendCommand(CommandCode::RunBackup);
  int status = RecvByte(connection.socket());
  if (status != 1) connection.Refused("backup", CommandCode::RunBackup, status);
  BackupRequest request;
  request.deleteExcessSnapshots = args.keepGiven;
  request.keepCount = args.keep;
  SendBackupRequest(connection.socket(), request);
  SendDominoServerInfo(connection.socket(), server);

  const std::string last = connection.StreamRunText(context);
  connection.Finish();
  if (last.find(kCompletedLine) == std::string::npos)
    throw CtlError(kExitServiceRefused, "backup of " + server.serverName + " did not complete");
}

void SetUp(CLI::App& app, CtlContext& context) {
  auto args = std::make_shared<BackupArgs>();
  CLI::App* backup = app.add_subcommand("backup", "back up one Domino server (snapshot of its data volume)");
  backup->add_option("server", args->server, "the server's name (srv1/Org) or short name (srv1)")->required();
  CLI::Option* keep =
      backup->add_option("--keep", args->keep, "afterwards delete the server's snapshots beyond this many");
  backup->callback([&context, args, keep] {
    args->keepGiven = keep->count() > 0;
    Backup(context, *args);
  });
}

}  // namespace

ARKCTL_COMMAND_GROUP(backup, SetUp);

}  // namespace ark
