// schedule add|list|remove: scheduled backups as the operating system's own
// scheduler runs them (systemd timers, the Task Scheduler). Each schedule
// runs "arkctl backup SERVER --scheduled --wait-lock D ..." on this host;
// nothing goes over the wire here.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/host.h"
#include "platform/scheduler.h"
#include "tools/arkctl/command_group.h"
#include "tools/arkctl/duration.h"
#include "tools/arkctl/numbers.h"
#include "tools/arkctl/json_output.h"
#include "tools/arkctl/schedule_plan.h"

namespace ark {

namespace {

struct ScheduleArgs {
  std::string where = platform::DefaultTaskLocation();
  std::string server;
  std::string daily;
  bool hourly = false;
  std::string every;
  std::string keep;
  bool verify = false;
  std::string waitLock = "1h";
  std::vector<std::string> extra;
};

void Add(const CtlContext& context, const ScheduleArgs& args) {
  platform::ScheduledTask task;
  std::string error;
  if (!ParseTrigger(args.daily, args.hourly, args.every, &task.trigger, &error))
    throw CtlError(kExitUsage, "schedule add: " + error);
  if (!ParseDuration(args.waitLock))
    throw CtlError(kExitUsage, "schedule add: --wait-lock takes a duration (90s, 30m, 2h), not " + args.waitLock);
  // What arkctl backup --keep takes, or every run would be refused.
  if (!args.keep.empty() && !ParseWhole<std::uint32_t>(args.keep))
    throw CtlError(kExitUsage, "schedule add: --keep takes a number of snapshots, not " + args.keep);
  task.name = ScheduleId(args.server);
  if (task.name == kSchedulePrefix)
    throw CtlError(kExitUsage, "schedule add: give the server's name (srv1/Org) or short name (srv1), not \"" +
                                   args.server + "\"");
  task.description = "ark: scheduled backup of the Domino server " + args.server;
  const ScheduledBackup backup{args.server, context.host, context.port, args.waitLock, args.keep, args.verify,
                               args.extra};
  task.command = ScheduledCommand(platform::CurrentProgramPath(), backup);
  // The run's event goes to the event log of the host root the service uses;
  // a relative ARK_ROOT is written whole, since the run starts elsewhere.
  const char* root = std::getenv("ARK_ROOT");
  task.environment.push_back("ARK_ROOT=" + (root != nullptr && *root != '\0' ? platform::HostRoot()
                                                                               : std::string("/var/lib/ark")));
  std::string note;
  if (!platform::CreateScheduledTask(args.where, task, &note, &error))
    throw CtlError(kExitServiceRefused, "schedule add: " + task.name + ": " + error);
  std::printf("%s: backup of %s %s (%s)\n", task.name.c_str(), args.server.c_str(),
              TriggerText(task.trigger).c_str(), note.c_str());
}

void List(const CtlContext& context, const ScheduleArgs& args) {
  std::vector<platform::ScheduledTaskState> tasks;
  std::string error;
  if (!platform::ListScheduledTasks(args.where, kSchedulePrefix, &tasks, &error))
    throw CtlError(kExitServiceRefused, "schedule list: " + error);
  auto orUnknown = [](const std::string& text) { return text.empty() ? std::string("unknown") : text; };
  if (context.json) {
    Json out = Json::array();
    for (const auto& t : tasks)
      out.push_back({{"id", t.name},
                     {"when", t.when},
                     {"command", t.command},
                     {"nextRun", t.nextRun},
                     {"lastRun", t.lastRun},
                     {"lastResult", t.lastResult}});
    std::printf("%s\n", JsonLine(out).c_str());
    return;
  }
  if (tasks.empty()) std::printf("no scheduled backups\n");
  for (const auto& t : tasks) {
    std::printf("%s  %s\n  runs:   %s\n  next:   %s\n  last:   %s", t.name.c_str(), t.when.c_str(), t.command.c_str(),
                orUnknown(t.nextRun).c_str(), orUnknown(t.lastRun).c_str());
    std::printf(t.lastResult.empty() ? "\n" : " (%s)\n", t.lastResult.c_str());
  }
}

void Remove(const ScheduleArgs& args) {
  const std::string id = ScheduleId(args.server);
  bool existed = false;
  std::string error;
  if (!platform::DeleteScheduledTask(args.where, id, &existed, &error))
    throw CtlError(kExitServiceRefused, "schedule remove: " + id + ": " + error);
  if (!existed) throw CtlError(kExitServiceRefused, "schedule remove: there is no schedule " + id);
  std::printf("%s: removed\n", id.c_str());
}

void SetUp(CLI::App& app, CtlContext& context) {
  auto args = std::make_shared<ScheduleArgs>();
  CLI::App* schedule = app.add_subcommand("schedule", "scheduled backups in the operating system's scheduler");
  schedule->require_subcommand(1);
  schedule->add_option("--unit-dir", args->where, "where the systemd units go")->capture_default_str();

  CLI::App* add = schedule->add_subcommand(
      "add", "back up SERVER at fixed times (replaces its schedule); options after -- go to the backup");
  add->add_option("server", args->server, "the server's name (srv1/Org) or short name (srv1)")->required();
  add->add_option("extra", args->extra, "further options of arkctl backup, after --");
  CLI::Option* daily = add->add_option("--daily", args->daily, "every day at HH:MM (local time)");
  CLI::Option* hourly = add->add_flag("--hourly", args->hourly, "every hour, on the hour");
  CLI::Option* every = add->add_option("--every", args->every, "every N hours (Nh) or N minutes (Nm)");
  daily->excludes(hourly)->excludes(every);
  hourly->excludes(every);
  add->add_option("--keep", args->keep, "after each backup delete the server's snapshots beyond this many");
  add->add_flag("--verify", args->verify, "after each backup verify the new snapshot");
  add->add_option("--wait-lock", args->waitLock, "how long a run waits while another backup or restore runs")
      ->capture_default_str();
  add->callback([&context, args] { Add(context, *args); });

  schedule->add_subcommand("list", "the scheduled backups, with their next and last run")
      ->callback([&context, args] { List(context, *args); });

  CLI::App* remove = schedule->add_subcommand("remove", "remove the scheduled backup of SERVER (or its ID)");
  remove->add_option("server", args->server, "the server's name, or the schedule's ID (ark-backup-srv1)")
      ->required();
  remove->callback([args] { Remove(*args); });
}

}  // namespace

ARKCTL_COMMAND_GROUP(schedule, SetUp);

}  // namespace ark
