// restore SERVER SNAPSHOT [--point-in-time] [--yes]: reverts the data volume
// of one Domino server to one of its snapshots and rolls its databases
// forward, showing the running text of the run as it arrives.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "net/wire.h"
#include "net/wire_records.h"
#include "platform/text.h"
#include "tools/arkctl/command_group.h"
#include "tools/arkctl/connection.h"
#include "tools/arkctl/server_lookup.h"

namespace ark {

namespace {

// What a run that completed says in its last message.
constexpr const char* kCompletedText = "SNAPSHOT RESTORE AND RECOVERY COMPLETE.";
constexpr const char* kRecentSuffix = "__recent";

struct RestoreArgs {
  std::string server;
  std::string snapshot;
  bool pointInTime = false;
  bool yes = false;
};

// The drive of a server's data volume, upper-cased (0 when unknown): the
// letter of its volume record, else the drive of its data directory.
char16_t DataDrive(const DominoServerInfo& server) {
  char16_t letter = server.dataVolume.driveLetter;
  if (letter == 0 && server.dataDirectory.size() >= 2 && server.dataDirectory[1] == ':') {
    letter = char16_t(static_cast<unsigned char>(server.dataDirectory[0]));
  }
  return letter >= u'a' && letter <= u'z' ? char16_t(letter - u'a' + u'A') : letter;
}

// The server's record as discovery reports it (with its snapshots), on a
// connection of its own: the restore itself runs on a fresh one.
// sharingVolume receives the other servers whose data lies on the same
// volume, which the revert takes back too.
DominoServerInfo DiscoverServer(const CtlContext& context, const std::string& wanted,
                                std::vector<DominoServerInfo>& sharingVolume) {
  ServiceConnection connection(context);
  DiscoveryReply reply = DiscoverAllServers(connection, "restore");
  connection.Finish();
  DominoServerInfo server = FindServerRecord(reply, "restore", wanted);
  const char16_t drive = DataDrive(server);
  for (const DominoServerInfo& other : reply.servers) {
    if (drive != 0 && DataDrive(other) == drive &&
        !platform::EqualsNoCase(other.dataDirectory, server.dataDirectory)) {
      sharingVolume.push_back(other);
    }
  }
  return server;
}

std::string DescribeSnapshots(const DominoServerInfo& server) {
  std::string text;
  for (const SnapshotEntry& entry : server.snapshots) {
    text += "\n  " + entry.name + "  (" + entry.displayText.Get() + ")";
  }
  return text.empty() ? " none" : text;
}

// The snapshot named by its name, "recent", its display time or its stamp.
SnapshotEntry FindSnapshot(const DominoServerInfo& server, const std::string& wanted) {
  std::vector<const SnapshotEntry*> matches;
  for (const SnapshotEntry& entry : server.snapshots) {
    const bool match = platform::EqualsNoCase(entry.name, wanted) ||
                       (platform::EqualsNoCase(wanted, "recent") &&
                        platform::EndsWithNoCase(entry.name, kRecentSuffix)) ||
                       (!wanted.empty() && (entry.displayText.Get() == wanted ||
                                            entry.stampText.Get() == wanted));
    if (match) matches.push_back(&entry);
  }
  if (matches.size() == 1) return *matches.front();
  throw CtlError(kExitUsage, "restore: " +
                                 std::string(matches.empty() ? "no snapshot " : "more than one snapshot ") +
                                 "of " + server.serverName + " is " + wanted +
                                 "; its snapshots:" + DescribeSnapshots(server));
}

// A restore reverts a whole volume: the user says yes on the terminal,
// having been told of every other server whose data goes back with it.
void Confirm(const DominoServerInfo& server, const SnapshotEntry& snapshot, bool pointInTime,
             const std::vector<DominoServerInfo>& sharingVolume) {
  if (!sharingVolume.empty()) {
    std::string names;
    for (const DominoServerInfo& other : sharingVolume) {
      names += "  " + other.dataDirectory + " (" + other.serverName + ")\n";
    }
    std::fprintf(stderr,
                 "The volume %s: also holds the data of other Domino servers, which the revert takes\n"
                 "back to the snapshot too (their databases are not recovered):\n%s",
                 platform::WideToAnsi(std::u16string(1, DataDrive(server))).c_str(), names.c_str());
  }
  if (!::isatty(STDIN_FILENO)) {
    throw CtlError(kExitUsage,
                   "restore: confirmation needed; run it on a terminal or give --yes");
  }
  const std::string drive = platform::WideToAnsi(std::u16string(1, server.dataVolume.driveLetter));
  std::fprintf(stderr,
               "This reverts the whole volume %s: (data directory %s of %s) to the snapshot\n"
               "%s taken %s, then performs a %s recovery.\n"
               "Everything written to that volume since then is lost. Type yes to go on: ",
               drive.c_str(), server.dataDirectory.c_str(), server.serverName.c_str(),
               snapshot.name.c_str(), snapshot.displayText.Get().c_str(),
               pointInTime ? "POINT IN TIME" : "UP TO THE MINUTE");
  std::string answer;
  if (!std::getline(std::cin, answer) || !platform::EqualsNoCase(answer, "yes")) {
    throw CtlError(kExitUsage, "restore: not confirmed; nothing was done");
  }
}

void Restore(const CtlContext& context, const RestoreArgs& args) {
  std::vector<DominoServerInfo> sharingVolume;
  DominoServerInfo server = DiscoverServer(context, args.server, sharingVolume);
  SnapshotEntry snapshot = FindSnapshot(server, args.snapshot);
  if (!args.yes) Confirm(server, snapshot, args.pointInTime, sharingVolume);

  // A fresh connection: the confirmation may take longer than the service
  // waits between two commands.
  ServiceConnection connection(context);
  connection.SendCommand(CommandCode::RunRestore);
  int status = RecvByte(connection.socket());
  if (status != 1) connection.Refused("restore", CommandCode::RunRestore, status);
  RestoreRequest request;
  request.server = std::move(server);
  request.server.snapshots.clear();
  request.snapshot = snapshot;
  request.pointInTime = args.pointInTime ? 1 : 0;
  SendRestoreRequest(connection.socket(), request);

  const std::string last = connection.StreamRunText(context);
  connection.Finish();
  if (last.find(kCompletedText) == std::string::npos) {
    throw CtlError(kExitServiceRefused, "restore of " + request.server.serverName + " to " +
                                            snapshot.name + " did not complete");
  }
}

void SetUp(CLI::App& app, CtlContext& context) {
  auto args = std::make_shared<RestoreArgs>();
  CLI::App* restore = app.add_subcommand(
      "restore", "revert one Domino server's data volume to a snapshot and recover its databases");
  restore->add_option("server", args->server, "the server's name (srv1/Org) or short name (srv1)")
      ->required();
  restore
      ->add_option("snapshot", args->snapshot,
                   "the snapshot: its name, 'recent', or its time as listed (3/2/2003 9:05:00)")
      ->required();
  restore->add_flag("--point-in-time", args->pointInTime,
                    "recover to the snapshot's time only (default: up to the minute)");
  restore->add_flag("--yes", args->yes, "do not ask for confirmation");
  restore->callback([&context, args] { Restore(context, *args); });
}

}  // namespace

ARKCTL_COMMAND_GROUP(restore, SetUp);

}  // namespace ark
