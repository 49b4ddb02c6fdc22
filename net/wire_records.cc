#include "net/wire_records.h"

#include <algorithm>

#include "platform/text.h"

namespace ark {

namespace {

std::uint32_t RecvListCount(SOCKET s) {
  std::uint32_t count = RecvU32(s);
  if (count > kMaxWireListCount) throw WireError(kRecvFailed);
  return count;
}

}  // namespace

void SendVolumeRecord(SOCKET s, const VolumeRecord& volume) {
  SendU32(s, static_cast<std::uint32_t>(volume.driveLetter));
  SendString(s, volume.diskPath);
  SendString(s, volume.devicePath);
  SendBool(s, volume.present == 1);
  SendString(s, volume.volumeName);
  SendString(s, volume.devicePathPart1);
  SendString(s, volume.devicePathPart2);
}

void RecvVolumeRecord(SOCKET s, VolumeRecord& volume) {
  volume.driveLetter = static_cast<char16_t>(RecvU32(s) & 0xFFFF);
  RecvString(s, volume.diskPath);
  RecvString(s, volume.devicePath);
  volume.present = RecvBool(s) ? 1 : 0;
  RecvString(s, volume.volumeName);
  RecvString(s, volume.devicePathPart1);
  RecvString(s, volume.devicePathPart2);
}

void SendSnapshotEntry(SOCKET s, const SnapshotEntry& entry) {
  SendString(s, entry.name);
  SendShortText(s, entry.dateText);
  SendShortText(s, entry.timeText);
  SendShortText(s, entry.stampText);
  SendShortText(s, entry.displayText);
  SendWideText(s, entry.componentName.Get());
  SendU32(s, entry.componentValue1);
  SendU32(s, entry.componentValue2);
}

void RecvSnapshotEntry(SOCKET s, SnapshotEntry& entry) {
  RecvString(s, entry.name);
  entry.nameText.Set(entry.name);
  entry.wideName.Set(platform::AnsiToWide(entry.name));
  RecvShortText(s, entry.dateText);
  RecvShortText(s, entry.timeText);
  RecvShortText(s, entry.stampText);
  RecvShortText(s, entry.displayText);
  RecvWideText(s, entry.componentName);
  entry.componentValue1 = RecvU32(s);
  entry.componentValue2 = RecvU32(s);
}

void SendDominoServerInfo(SOCKET s, const DominoServerInfo& server) {
  SendByte(s, server.partition);
  SendBool(s, server.clientFlag);
  SendVolumeRecord(s, server.dataVolume);
  SendVolumeRecord(s, server.logVolume);
  SendString(s, server.dataDirectory);
  SendString(s, server.logDirectory);
  SendString(s, server.notesIniPath);
  SendString(s, server.serverName);
  SendString(s, server.commonName);
  SendBool(s, server.partitioned);
  SendU32(s, server.loggingStyle);
  SendU32(s, static_cast<std::uint32_t>(server.archiveLogging));
  SendBool(s, server.serverNameResolved);
  SendString(s, server.loggingStyleText);
  SendU32(s, static_cast<std::uint32_t>(server.snapshots.size()));
  for (const SnapshotEntry& entry : server.snapshots) SendSnapshotEntry(s, entry);
}

void RecvDominoServerInfo(SOCKET s, DominoServerInfo& server) {
  server.partition = static_cast<std::int8_t>(RecvByte(s));
  server.clientFlag = RecvBool(s);
  RecvVolumeRecord(s, server.dataVolume);
  RecvVolumeRecord(s, server.logVolume);
  RecvString(s, server.dataDirectory);
  RecvString(s, server.logDirectory);
  RecvString(s, server.notesIniPath);
  RecvString(s, server.serverName);
  RecvString(s, server.commonName);
  server.partitioned = RecvBool(s);
  server.loggingStyle = RecvU32(s);
  server.archiveLogging = static_cast<std::int32_t>(RecvU32(s));
  server.serverNameResolved = RecvBool(s);
  RecvString(s, server.loggingStyleText);
  std::uint32_t count = RecvListCount(s);
  for (std::uint32_t i = 0; i < count; ++i) {
    SnapshotEntry entry;
    RecvSnapshotEntry(s, entry);
    server.snapshots.push_back(std::move(entry));
  }
}

void SendBackupRequest(SOCKET s, const BackupRequest& request) {
  SendBool(s, request.deleteExcessSnapshots);
  SendU32(s, request.keepCount);
  SendBool(s, request.flag3);
  SendBool(s, request.flag4);
  SendString(s, request.text5);
}

void RecvBackupRequest(SOCKET s, BackupRequest& request) {
  request.deleteExcessSnapshots = RecvBool(s);
  request.keepCount = RecvU32(s);
  request.flag3 = RecvBool(s);
  request.flag4 = RecvBool(s);
  RecvString(s, request.text5);
}

void SendRestoreRequest(SOCKET s, const RestoreRequest& request) {
  SendDominoServerInfo(s, request.server);
  SendSnapshotEntry(s, request.snapshot);
  // The raw byte: only 1 means point in time, and the receiver keeps it as sent.
  SendByte(s, request.pointInTime);
  SendBool(s, request.flag4);
  SendBool(s, request.flag5);
  SendU32(s, request.number6);
}

void RecvRestoreRequest(SOCKET s, RestoreRequest& request) {
  RecvDominoServerInfo(s, request.server);
  RecvSnapshotEntry(s, request.snapshot);
  request.pointInTime = RecvByte(s);
  request.flag4 = RecvBool(s);
  request.flag5 = RecvBool(s);
  request.number6 = RecvU32(s);
}

void SendDatabaseRestoreRequest(SOCKET s, const DatabaseRestoreRequest& request) {
  SendDominoServerInfo(s, request.server);
  SendString(s, request.snapshotName);
  SendU32(s, request.target);
  SendString(s, request.moment);
  SendU32(s, request.placement);
  SendString(s, request.folder);
  SendBool(s, request.newReplicaId);
  SendU32(s, static_cast<std::uint32_t>(request.paths.size()));
  for (const std::string& path : request.paths) SendString(s, path);
}

void RecvDatabaseRestoreRequest(SOCKET s, DatabaseRestoreRequest& request) {
  RecvDominoServerInfo(s, request.server);
  RecvString(s, request.snapshotName);
  request.target = RecvU32(s);
  RecvString(s, request.moment);
  request.placement = RecvU32(s);
  RecvString(s, request.folder);
  request.newReplicaId = RecvBool(s);
  const std::uint32_t count = RecvListCount(s);
  request.paths.clear();
  for (std::uint32_t i = 0; i < count; ++i) request.paths.push_back(RecvString(s));
}

void SendDiscoveryReplyTail(SOCKET s, std::uint32_t serverCount, bool partitioned,
                            const std::string& computerName,
                            const std::vector<DominoServerInfo>& servers) {
  std::uint32_t count = std::min<std::uint32_t>(serverCount, static_cast<std::uint32_t>(servers.size()));
  SendString(s, kDiscoveryContinue);
  SendU32(s, count);
  SendBool(s, partitioned);
  SendString(s, computerName);
  for (std::uint32_t i = 0; i < count; ++i) SendDominoServerInfo(s, servers[i]);
}

void RecvDiscoveryReplyTail(SOCKET s, DiscoveryReply& reply) {
  if (RecvString(s) != kDiscoveryContinue) throw WireError("unexpected reply");
  std::uint32_t count = RecvListCount(s);
  reply.partitioned = RecvBool(s);
  RecvString(s, reply.computerName);
  reply.servers.clear();
  for (std::uint32_t i = 0; i < count; ++i) {
    DominoServerInfo server;
    RecvDominoServerInfo(s, server);
    reply.servers.push_back(std::move(server));
  }
}

}  // namespace ark
