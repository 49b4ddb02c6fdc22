// verify SERVER [SNAPSHOT]: asks the service whether the server's snapshots
// (or the one named) can be restored, shows the findings as they arrive, and
// exits non-zero when one cannot be restored or nothing could be verified.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "net/wire.h"
#include "net/wire_records.h"
#include "tools/arkctl/command_group.h"
#include "tools/arkctl/connection.h"
#include "tools/arkctl/server_lookup.h"
#include "tools/arkctl/verify_run.h"

namespace ark {

namespace {

// The verdict lines that close the findings, one per snapshot.
constexpr const char* kNotRestorable = ": NOT restorable (";
constexpr const char* kUpToTheMinute = ": restorable up to the minute";
constexpr const char* kPointInTime = ": restorable to point in time only (";

struct VerifyArgs {
  std::string server;
  std::string snapshot;
};

bool Has(const std::string& text, const char* piece) { return text.find(piece) != std::string::npos; }

void VerifyServer(const CtlContext& context, ServiceConnection& connection, const DominoServerInfo& server,
                  const std::string& snapshot) {
  connection.SendCommand(CommandCode::VerifySnapshot);
  const int status = RecvByte(connection.socket());
  if (status != 1) connection.Refused("verify", CommandCode::VerifySnapshot, status);
  SendDominoServerInfo(connection.socket(), server);
  SendString(connection.socket(), snapshot);

  bool unrestorable = false;
  bool verdicts = false;
  connection.StreamRunText(context, [&](const std::string& text) {
    unrestorable = unrestorable || Has(text, kNotRestorable);
    verdicts = verdicts || Has(text, kNotRestorable) || Has(text, kUpToTheMinute) || Has(text, kPointInTime);
  });
  connection.Finish();
  const std::string what =
      snapshot.empty() ? "a snapshot of " + server.serverName : "snapshot " + snapshot;
  if (unrestorable) throw CtlError(kExitServiceRefused, "verify: " + what + " is NOT restorable");
  if (!verdicts) throw CtlError(kExitServiceRefused, "verify: " + what + " could not be verified");
}

void SetUp(CLI::App& app, CtlContext& context) {
  auto args = std::make_shared<VerifyArgs>();
  CLI::App* verify =
      app.add_subcommand("verify", "check that a server's snapshots can be restored (changes nothing)");
  verify->add_option("server", args->server, "the server's name (srv1/Org) or short name (srv1)")->required();
  verify->add_option("snapshot", args->snapshot,
                     "one snapshot's name (default: every snapshot of the server)");
  verify->callback([&context, args] { VerifySnapshots(context, args->server, args->snapshot); });
}

}  // namespace

void VerifySnapshots(const CtlContext& context, const std::string& server, const std::string& snapshot) {
  ServiceConnection connection(context);
  VerifyServer(context, connection, DiscoverServerRecord(connection, "verify", server), snapshot);
}

void VerifyNewestSnapshot(const CtlContext& context, const std::string& server) {
  ServiceConnection connection(context);
  const DominoServerInfo record = DiscoverServerRecord(connection, "verify", server);
  std::string newest;
  for (const SnapshotEntry& entry : record.snapshots)
    if (newest.empty() || (entry.name.size() >= 8 && entry.name.compare(entry.name.size() - 8, 8, "__recent") == 0))
      newest = entry.name;
  if (newest.empty()) throw CtlError(kExitServiceRefused, "verify: " + record.serverName + " has no snapshot");
  VerifyServer(context, connection, record, newest);
}

ARKCTL_COMMAND_GROUP(verify, SetUp);

}  // namespace ark
