// drill SERVER [SNAPSHOT] [--scratch FOLDER] [--keep]: restores every
// database of a snapshot aside while the server runs, reads each whole, and
// exits 0 only when every one was restored and sound.
#include <cstdio>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <string>

#include "net/wire.h"
#include "net/wire_records.h"
#include "tools/arkctl/command_group.h"
#include "tools/arkctl/connection.h"
#include "tools/arkctl/drill_run.h"
#include "tools/arkctl/json_output.h"
#include "tools/arkctl/numbers.h"
#include "tools/arkctl/server_lookup.h"

namespace ark {

namespace {

// What the run's text says: the snapshot, each database's line
// ("mail\a.nsf: sound, 3 notes read" or "mail\a.nsf: why"), the totals of
// the verdict line, and whether it passed: a "DRILL PASSED" verdict whose
// counts are numbers, all of them sound. The JSON answer and the exit code
// both follow this judgement.
struct DrillOutcome {
  Json json;
  bool passed = false;
};

DrillOutcome ReadOutcome(const std::string& text, const std::string& server) {
  // A snapshot's name holds its server's name, which may hold blanks.
  static const std::regex snapshot("^Drilling snapshot (.+) \\(complete at (?:[^()]*|\\(no time\\))\\)$"),
      database("^([^:]+\\.(?:nsf|ntf|box)): (.+)$", std::regex::icase), error("^ERROR: (.+)$"),
      verdict("^DRILL (PASSED|FAILED): (\\d+) of (\\d+) databases.*$");
  Json result = {{"server", server}, {"snapshot", nullptr}, {"databases", Json::array()}};
  std::size_t sound = 0, total = 0;
  bool passedLine = false;
  Json firstError;
  std::istringstream lines(text);
  std::smatch m;
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (std::regex_match(line, m, snapshot)) {
      result["snapshot"] = m[1].str();
    } else if (std::regex_match(line, m, verdict)) {
      const std::optional<std::size_t> s = ParseWhole<std::size_t>(m[2].str()), t = ParseWhole<std::size_t>(m[3].str());
      passedLine = s && t && m[1].str() == "PASSED";
      sound = s && t ? *s : 0, total = s && t ? *t : 0;
    } else if (std::regex_match(line, m, error)) {
      if (firstError.is_null()) firstError = m[1].str();
    } else if (std::regex_match(line, m, database)) {
      const bool ok = m[2].str().starts_with("sound");
      result["databases"].push_back({{"path", m[1].str()}, {"result", ok ? std::string("sound") : m[2].str()}});
    }
  }
  const bool passed = passedLine && total > 0 && sound == total;
  result["sound"] = sound;
  result["total"] = total;
  result["passed"] = passed;
  result["error"] = firstError;
  return {std::move(result), passed};
}

void SetUp(CLI::App& app, CtlContext& context) {
  auto args = std::make_shared<DrillArgs>();
  CLI::App* drill = app.add_subcommand(
      "drill", "restore every database of a snapshot aside and read it whole (changes nothing live)");
  drill->add_option("server", args->server, "the server's name (srv1/Org) or short name (srv1)")->required();
  drill->add_option("snapshot", args->snapshot, "the snapshot's name (default: the newest)");
  drill->add_option("--scratch", args->scratch,
                    "a folder for the copies, not on the data volume (default: a clone of the snapshot, "
                    "else $drill below the ArkLedger root)");
  drill->add_flag("--keep", args->keep, "keep the restored databases and name where they are");
  drill->callback([&context, args] { RunDrill(context, *args); });
}

}  // namespace

void RunDrill(const CtlContext& context, const DrillArgs& args) {
  ServiceConnection connection(context);
  DominoServerInfo server = DiscoverServerRecord(connection, "drill", args.server);
  connection.SendCommand(CommandCode::DrillSnapshot);
  const int status = RecvByte(connection.socket());
  if (status != 1) connection.Refused("drill", CommandCode::DrillSnapshot, status);
  server.snapshots.clear();
  SendDominoServerInfo(connection.socket(), server);
  SendString(connection.socket(), args.snapshot);
  SendString(connection.socket(), args.scratch);
  SendBool(connection.socket(), args.keep);
  std::string text;
  connection.StreamRunText(context, [&](const std::string& piece) { text += piece; }, context.json ? stderr : stdout);
  connection.Finish();
  const DrillOutcome outcome = ReadOutcome(text, server.serverName);
  if (context.json) std::printf("%s\n", JsonLine(outcome.json).c_str());
  if (!outcome.passed) {
    throw CtlError(kExitServiceRefused, "drill of " + server.serverName + " did not pass");
  }
}

ARKCTL_COMMAND_GROUP(drill, SetUp);

}  // namespace ark
