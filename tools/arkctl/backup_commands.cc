// backup SERVER [--keep N] [--drill]: backs up one Domino server of the host
// and shows the running text of the run as it arrives; --drill then drills
// the snapshot just taken (a command of its own), and its verdict counts.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "net/wire.h"
#include "net/wire_records.h"
#include "tools/arkctl/command_group.h"
#include "tools/arkctl/connection.h"
#include "tools/arkctl/drill_run.h"
#include "tools/arkctl/server_lookup.h"

namespace ark {

namespace {

// The run's last line when it completed.
constexpr const char* kCompletedLine = "Backup Completed for Server";

struct BackupArgs {
  std::string server;
  std::uint32_t keep = 0;
  bool keepGiven = false;
  bool drill = false;
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
  // The newest snapshot of the server is the one this backup took.
  if (args.drill) RunDrill(context, DrillArgs{args.server, "", "", false});
}

void SetUp(CLI::App& app, CtlContext& context) {
  auto args = std::make_shared<BackupArgs>();
  CLI::App* backup = app.add_subcommand("backup", "back up one Domino server (snapshot of its data volume)");
  backup->add_option("server", args->server, "the server's name (srv1/Org) or short name (srv1)")->required();
  CLI::Option* keep =
      backup->add_option("--keep", args->keep, "afterwards delete the server's snapshots beyond this many");
  backup->add_flag("--drill", args->drill, "afterwards drill the snapshot just taken (arkctl drill)");
  backup->callback([&context, args, keep] {
    args->keepGiven = keep->count() > 0;
    Backup(context, *args);
  });
}

}  // namespace

ARKCTL_COMMAND_GROUP(backup, SetUp);

}  // namespace ark
