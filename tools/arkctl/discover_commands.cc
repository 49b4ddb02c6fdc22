// discover: the host's Domino servers with their volumes and snapshots;
// snapshots SERVER: one server's snapshots.
#include <cstdio>
#include <string>

#include "net/wire.h"
#include "net/wire_records.h"
#include "platform/text.h"
#include "tools/arkctl/command_group.h"
#include "tools/arkctl/connection.h"
#include "tools/arkctl/json_output.h"
#include "tools/arkctl/server_lookup.h"

namespace ark {

namespace {

std::string DriveText(char16_t letter) {
  return letter == 0 ? std::string() : platform::WideToAnsi(std::u16string(1, letter));
}

Json VolumeJson(const VolumeRecord& volume) {
  return {{"driveLetter", DriveText(volume.driveLetter)},
          {"diskPath", volume.diskPath},
          {"devicePath", volume.devicePath},
          {"present", volume.present == 1},
          {"volumeName", volume.volumeName},
          {"devicePathPart1", volume.devicePathPart1},
          {"devicePathPart2", volume.devicePathPart2}};
}

Json SnapshotsJson(const std::vector<SnapshotEntry>& snapshots) {
  Json out = Json::array();
  for (const SnapshotEntry& entry : snapshots) {
    out.push_back({{"name", entry.name},
                   {"date", entry.dateText.Get()},
                   {"time", entry.timeText.Get()},
                   {"stamp", entry.stampText.Get()},
                   {"display", entry.displayText.Get()}});
  }
  return out;
}

Json ServerJson(const DominoServerInfo& s) {
  return {{"partition", s.partition},
          {"serverName", s.serverName},
          {"commonName", s.commonName},
          {"dataDirectory", s.dataDirectory},
          {"logDirectory", s.logDirectory},
          {"notesIniPath", s.notesIniPath},
          {"loggingStyle", s.loggingStyle},
          {"loggingStyleText", s.loggingStyleText},
          {"archiveLogging", s.archiveLogging},
          {"dataVolume", VolumeJson(s.dataVolume)},
          {"logVolume", VolumeJson(s.logVolume)},
          {"snapshots", SnapshotsJson(s.snapshots)}};
}

void PrintVolume(const char* what, const VolumeRecord& volume) {
  if (volume.present != 1) {
    std::printf("  %-16s (no storage volume)\n", what);
    return;
  }
  std::printf("  %-16s %s: on volume %s (disk %s, device %s)\n", what, DriveText(volume.driveLetter).c_str(),
              volume.volumeName.c_str(), volume.diskPath.c_str(), volume.devicePath.c_str());
}

void PrintSnapshots(const std::vector<SnapshotEntry>& snapshots, const char* indent) {
  if (snapshots.empty()) std::printf("%s(no snapshots)\n", indent);
  for (const SnapshotEntry& entry : snapshots)
    std::printf("%s%-20s %s\n", indent, entry.displayText.Get().c_str(), entry.name.c_str());
}

void DiscoverCommand(const CtlContext& context) {
  ServiceConnection connection(context);
  DiscoveryReply reply = DiscoverAllServers(connection, "discover");
  connection.Finish();
  if (context.json) {
    Json servers = Json::array();
    for (const DominoServerInfo& s : reply.servers) servers.push_back(ServerJson(s));
    const Json out = {{"computerName", reply.computerName}, {"partitioned", reply.partitioned}, {"servers", servers}};
    std::printf("%s\n", JsonLine(out).c_str());
    return;
  }
  std::printf("computer %s: %zu Domino server(s), %s\n", reply.computerName.c_str(), reply.servers.size(),
              reply.partitioned ? "partitioned" : "not partitioned");
  for (const DominoServerInfo& s : reply.servers) {
    std::printf("\npartition %d: %s (common name %s)\n", s.partition, s.serverName.c_str(),
                s.commonName.empty() ? "-" : s.commonName.c_str());
    std::printf("  data directory   %s\n", s.dataDirectory.c_str());
    std::printf("  notes.ini        %s\n", s.notesIniPath.c_str());
    std::printf("  log directory    %s\n", s.logDirectory.empty() ? "-" : s.logDirectory.c_str());
    std::printf("  logging style    %s\n", s.loggingStyleText.c_str());
    PrintVolume("data volume", s.dataVolume);
    PrintVolume("log volume", s.logVolume);
    std::printf("  snapshots:\n");
    PrintSnapshots(s.snapshots, "    ");
  }
}

void SnapshotsCommand(const CtlContext& context, const std::string& server) {
  ServiceConnection connection(context);
  DominoServerInfo record = DiscoverServerRecord(connection, "snapshots", server);
  connection.Finish();
  if (context.json) {
    std::printf("%s\n", JsonLine(SnapshotsJson(record.snapshots)).c_str());
    return;
  }
  std::printf("snapshots of %s:\n", record.serverName.c_str());
  PrintSnapshots(record.snapshots, "  ");
}

void SetUp(CLI::App& app, CtlContext& context) {
  app.add_subcommand("discover", "the host's Domino servers, their volumes and snapshots")
      ->callback([&context] { DiscoverCommand(context); });
  auto* snapshots = app.add_subcommand("snapshots", "one server's snapshots (name and time)");
  auto server = std::make_shared<std::string>();
  snapshots->add_option("SERVER", *server, "server name (srv1/Org or srv1)")->required();
  snapshots->callback([&context, server] { SnapshotsCommand(context, *server); });
}

}  // namespace

ARKCTL_COMMAND_GROUP(discover, SetUp);

}  // namespace ark
