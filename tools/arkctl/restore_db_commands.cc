// restore-db SERVER PATH... [--snapshot NAME] [--at "YYYY-MM-DD HH:MM:SS" |
// --up-to-the-minute] [--to FOLDER | --in-place] [--new-replica-id] [--yes]:
// restores single databases of a snapshot while the server runs, showing
// the running text as it arrives; with --json one object per database.
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "net/wire.h"
#include "net/wire_records.h"
#include "platform/text.h"
#include "tools/arkctl/command_group.h"
#include "tools/arkctl/connection.h"
#include "tools/arkctl/json_output.h"
#include "tools/arkctl/server_lookup.h"

namespace ark {

namespace {

constexpr const char* kCompleted = "DATABASE RESTORE COMPLETE:";

struct RestoreDbArgs {
  std::string server, snapshot, at, folder;
  std::vector<std::string> paths;
  bool upToTheMinute = false, inPlace = false, newReplicaId = false, yes = false;
};

std::string MomentWords(const RestoreDbArgs& args) {
  return args.upToTheMinute ? "up to the minute" : !args.at.empty() ? args.at : "the snapshot's time";
}

// An in-place restore replaces live databases: the user says yes on the
// terminal, having been shown what goes where.
void Confirm(const DominoServerInfo& server, const RestoreDbArgs& args) {
  std::string listing;
  for (const std::string& path : args.paths) listing += "  " + path + "\n";
  std::fprintf(stderr,
               "This replaces these live databases of %s (data directory %s) with their state at %s\n"
               "from %s:\n%s"
               "Each live database is first kept as restore\\<path> with -before-restore before its "
               "extension.\nType yes to go on: ",
               server.serverName.c_str(), server.dataDirectory.c_str(), MomentWords(args).c_str(),
               args.snapshot.empty() ? "the newest snapshot at or before that moment"
                                     : ("snapshot " + args.snapshot).c_str(),
               listing.c_str());
  if (!::isatty(STDIN_FILENO)) {
    throw CtlError(kExitUsage, "restore-db: confirmation needed for --in-place; run it on a terminal or give --yes");
  }
  std::string answer;
  if (!std::getline(std::cin, answer) || !platform::EqualsNoCase(answer, "yes")) {
    throw CtlError(kExitUsage, "restore-db: not confirmed; nothing was done");
  }
}

// One object per database from the run's text: the plan's lines, then each
// database's result; when the run refused before its plan, one per path.
void PrintJson(const std::string& text, const RestoreDbArgs& args) {
  // A snapshot's name holds its server's name, which may hold blanks: the
  // moment after it is what ends it.
  static const std::regex plan("^Restoring from snapshot (.+) to (\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d|\\(no time\\)):$"),
      entry("^  (.+) -> (.+)$"),
      error("^ERROR: (.+)$");
  Json snapshot = args.snapshot.empty() ? Json() : Json(args.snapshot), moment;
  std::vector<Json> objects;
  std::string firstError;
  std::istringstream lines(text);
  std::smatch m;
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (std::regex_match(line, m, plan)) {
      snapshot = m[1].str(), moment = m[2].str();
    } else if (std::regex_match(line, m, entry)) {
      objects.push_back({{"path", m[1].str()}, {"target", m[2].str()}, {"snapshot", snapshot},
                         {"moment", moment}, {"result", "not restored"}});
    } else if (line.starts_with("Restored ") || line.starts_with("Not restored: ")) {
      // Each result line names its database and target as the plan did; a
      // name may hold " to " itself, so the line is matched against each
      // planned path and target rather than split.
      for (Json& object : objects) {
        const std::string path = object["path"], target = object["target"];
        if (line.starts_with("Restored " + path + " to " + target + " as of ")) {
          object["result"] = "restored";
        } else if (const std::string head = "Not restored: " + path + ": "; line.starts_with(head)) {
          object["result"] = "not restored: " + line.substr(head.size());
        }
      }
    } else if (firstError.empty() && std::regex_match(line, m, error)) {
      firstError = m[1].str();
    }
  }
  if (objects.empty()) {
    for (const std::string& path : args.paths) {
      objects.push_back({{"path", path}, {"target", nullptr}, {"snapshot", snapshot}, {"moment", nullptr},
                         {"result", "refused: " + firstError}});
    }
  }
  for (const Json& object : objects) std::printf("%s\n", JsonLine(object).c_str());
}

void RestoreDb(const CtlContext& context, const RestoreDbArgs& args) {
  // The service ends a conversation whose request names more: said here, as
  // the usage error it is, before anything is sent.
  if (args.paths.size() > kMaxWireListCount) {
    throw CtlError(kExitUsage, "restore-db: at most " + std::to_string(kMaxWireListCount) + " paths in one run, not " +
                                   std::to_string(args.paths.size()) + " (name their folder instead)");
  }
  DominoServerInfo server;
  {
    ServiceConnection connection(context);
    server = DiscoverServerRecord(connection, "restore-db", args.server);
    connection.Finish();
  }
  if (args.inPlace && !args.yes) Confirm(server, args);

  // A fresh connection: the confirmation may take longer than the service
  // waits between two commands.
  ServiceConnection connection(context);
  connection.SendCommand(CommandCode::RestoreDatabases);
  const int status = RecvByte(connection.socket());
  if (status != 1) connection.Refused("restore-db", CommandCode::RestoreDatabases, status);
  DatabaseRestoreRequest request;
  request.server = std::move(server);
  request.server.snapshots.clear();
  request.snapshotName = args.snapshot;
  request.target = args.upToTheMinute ? kRestoreUpToTheMinute : !args.at.empty() ? kRestoreToMoment : kRestoreToSnapshotTime;
  request.moment = args.at;
  request.placement = args.inPlace ? kPlaceInPlace : kPlaceInFolder;
  request.folder = args.folder;
  request.newReplicaId = args.newReplicaId;
  request.paths = args.paths;
  SendDatabaseRestoreRequest(connection.socket(), request);

  std::string text;
  connection.StreamRunText(context, [&](const std::string& piece) { text += piece; }, context.json ? stderr : stdout);
  connection.Finish();
  if (context.json) PrintJson(text, args);
  if (text.find(kCompleted) == std::string::npos) {
    throw CtlError(kExitServiceRefused, "restore-db: not every database of " + request.server.serverName + " was restored");
  }
}

void SetUp(CLI::App& app, CtlContext& context) {
  auto args = std::make_shared<RestoreDbArgs>();
  CLI::App* command = app.add_subcommand(
      "restore-db", "restore single databases of a snapshot while the server runs (to a folder, or in place)");
  command->add_option("server", args->server, "the server's name (srv1/Org) or short name (srv1)")->required();
  command
      ->add_option("path", args->paths,
                   "a database relative to the data directory (mail\\jdoe.nsf), or a folder ending in a "
                   "separator (mail\\): every database below it")
      ->required();
  command->add_option("--snapshot", args->snapshot,
                      "the snapshot's name (default: the newest taken at or before the moment)");
  CLI::Option* at = command->add_option("--at", args->at, "recover to this local time, \"YYYY-MM-DD HH:MM:SS\"");
  command->add_flag("--up-to-the-minute", args->upToTheMinute, "recover through every transaction logged")
      ->excludes(at);
  CLI::Option* to = command->add_option("--to", args->folder,
                                        "the folder below the data directory that receives the copies (default restore)");
  command->add_flag("--in-place", args->inPlace, "replace the live databases (each kept first)")->excludes(to);
  command->add_flag("--new-replica-id", args->newReplicaId, "give the copies a new replica id as well");
  command->add_flag("--yes", args->yes, "do not ask for confirmation");
  command->callback([&context, args] { RestoreDb(context, *args); });
}

}  // namespace

ARKCTL_COMMAND_GROUP(restore_db, SetUp);

}  // namespace ark
