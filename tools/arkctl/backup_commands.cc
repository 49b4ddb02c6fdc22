// backup SERVER [--keep N] [--wait-lock DURATION] [--verify] [--drill] [--scheduled]:
// backs up one Domino server of the host and shows the running text of the
// run as it arrives. With --wait-lock a run that finds another backup or
// restore holding the operation lock tries again until the time is up;
// --verify and --drill then check the snapshot just taken (commands of their
// own), and their verdicts count; a --scheduled run that fails also writes an
// error event.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "common/events.h"
#include "net/wire.h"
#include "net/wire_error.h"
#include "net/wire_records.h"
#include "platform/eventlog.h"
#include "tools/arkctl/command_group.h"
#include "tools/arkctl/connection.h"
#include "tools/arkctl/drill_run.h"
#include "tools/arkctl/duration.h"
#include "tools/arkctl/schedule_plan.h"
#include "tools/arkctl/server_lookup.h"
#include "tools/arkctl/verify_run.h"

namespace ark {

namespace {

// The run's last line when it completed.
constexpr const char* kCompletedLine = "Backup Completed for Server";
// What a run says when another backup or restore of the host holds the lock.
constexpr const char* kLockHeld = "ARK backup or restore in progress";

struct BackupArgs {
  std::string server;
  std::uint32_t keep = 0;
  bool keepGiven = false;
  std::string waitLock;  // "" waits not at all
  bool verify = false;
  bool scheduled = false;
  bool drill = false;
};

enum class RunResult { Completed, LockHeld, Failed };

RunResult BackupOnce(const CtlContext& context, const BackupArgs& args, std::string* serverName) {
  ServiceConnection connection(context);
  DominoServerInfo server = DiscoverServerRecord(connection, "backup", args.server);
  *serverName = server.serverName;

  connection.SendCommand(CommandCode::RunBackup);
  int status = RecvByte(connection.socket());
  if (status != 1) connection.Refused("backup", CommandCode::RunBackup, status);
  BackupRequest request;
  request.deleteExcessSnapshots = args.keepGiven;
  request.keepCount = args.keep;
  SendBackupRequest(connection.socket(), request);
  SendDominoServerInfo(connection.socket(), server);

  bool lockHeld = false;
  const std::string last = connection.StreamRunText(
      context, [&](const std::string& text) { lockHeld = lockHeld || text.find(kLockHeld) != std::string::npos; });
  connection.Finish();
  if (last.find(kCompletedLine) != std::string::npos) return RunResult::Completed;
  return lockHeld ? RunResult::LockHeld : RunResult::Failed;
}

void Backup(const CtlContext& context, const BackupArgs& args) {
  const std::int64_t waitSeconds = args.waitLock.empty() ? 0 : ParseDuration(args.waitLock).value_or(-1);
  if (waitSeconds < 0)
    throw CtlError(kExitUsage, "backup: --wait-lock takes a duration (90s, 30m, 2h), not " + args.waitLock);
  using Clock = std::chrono::steady_clock;
  // A century is as good as forever, and keeps the deadline within the
  // clock's range ("--wait-lock 200000d" would wrap into the past).
  constexpr std::int64_t kLongestWait = 100LL * 366 * 86400;
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(std::min(waitSeconds, kLongestWait));
  std::chrono::seconds pause(1);
  std::string serverName = args.server;
  for (;;) {
    const RunResult result = BackupOnce(context, args, &serverName);
    if (result == RunResult::Completed) break;
    if (result == RunResult::Failed) throw CtlError(kExitServiceRefused, "backup of " + serverName + " did not complete");
    if (Clock::now() + pause > deadline) {
      throw CtlError(kExitServiceRefused,
                     "backup of " + serverName + " did not run: another backup or restore held the operation lock" +
                         (waitSeconds > 0 ? " for the " + args.waitLock + " it waited" : std::string()));
    }
    std::fprintf(stderr, "arkctl: another backup or restore is running; trying again in %lld s (waiting up to %s)\n",
                 static_cast<long long>(pause.count()), args.waitLock.c_str());
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::seconds(60));
  }
  if (args.verify) VerifyNewestSnapshot(context, args.server);
  // The newest snapshot of the server is the one this backup took.
  if (args.drill) RunDrill(context, DrillArgs{args.server, "", "", false});
}

// A scheduled run has no one watching: its failure also goes to the event
// log (on POSIX syslog, so the journal, and the host root's
// Logs/Application.log).
void ReportScheduledFailure(const BackupArgs& args, const std::string& why) {
  platform::ReportEvent(kEventSourceName, EVENTLOG_ERROR_TYPE, kCategoryBackup, kEventBackupFailed,
                        {args.server, "the scheduled run failed: " + why});
}

void SetUp(CLI::App& app, CtlContext& context) {
  auto args = std::make_shared<BackupArgs>();
  CLI::App* backup = app.add_subcommand("backup", "back up one Domino server (snapshot of its data volume)");
  backup->add_option("server", args->server, "the server's name (srv1/Org) or short name (srv1)")->required();
  CLI::Option* keep =
      backup->add_option("--keep", args->keep, "afterwards delete the server's snapshots beyond this many");
  backup->add_option("--wait-lock", args->waitLock,
                     "while another backup or restore runs, try again for this long (90s, 30m, 2h)");
  backup->add_flag("--verify", args->verify, "afterwards verify the new snapshot");
  backup->add_flag("--scheduled", args->scheduled, "a scheduled run: a failure also writes an error event");
  backup->add_flag("--drill", args->drill, "afterwards drill the snapshot just taken (arkctl drill)");
  backup->callback([&context, args, keep] {
    args->keepGiven = keep->count() > 0;
    if (!args->scheduled) return Backup(context, *args);
    try {
      Backup(context, *args);
    } catch (const CtlError& error) {
      ReportScheduledFailure(*args, error.what());
      throw;
    } catch (const WireError& error) {
      ReportScheduledFailure(*args, "the conversation with the service failed: " + error.text());
      throw;
    }
  });
}

}  // namespace

ARKCTL_COMMAND_GROUP(backup, SetUp);

}  // namespace ark
