// The records that travel on a client connection, field by field in their
// fixed order. Fields a record has in memory but that do not travel are left
// as the record's constructor made them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/records.h"
#include "net/wire.h"

namespace ark {

// A received list longer than this ends the conversation ("recv failed"):
// a volume holds at most 255 snapshots and a host a handful of servers, and
// the bound keeps a hostile count from growing the list without end.
inline constexpr std::uint32_t kMaxWireListCount = 4096;

// Each Send/Recv pair raises the WireErrors of net/wire.h; a Recv that fails
// leaves its record partly filled, and a list count above kMaxWireListCount
// raises "recv failed".
void SendVolumeRecord(SOCKET s, const VolumeRecord& volume);
void RecvVolumeRecord(SOCKET s, VolumeRecord& volume);

void SendSnapshotEntry(SOCKET s, const SnapshotEntry& entry);
void RecvSnapshotEntry(SOCKET s, SnapshotEntry& entry);

void SendDominoServerInfo(SOCKET s, const DominoServerInfo& server);
void RecvDominoServerInfo(SOCKET s, DominoServerInfo& server);

// The service only receives these; the senders are for clients and tests.
void SendBackupRequest(SOCKET s, const BackupRequest& request);
void RecvBackupRequest(SOCKET s, BackupRequest& request);
void SendRestoreRequest(SOCKET s, const RestoreRequest& request);
void RecvRestoreRequest(SOCKET s, RestoreRequest& request);
// Command 17: the server, snapshot name, u32 target, moment, u32 placement,
// folder, new-replica-id flag, u32 count and the paths.
void SendDatabaseRestoreRequest(SOCKET s, const DatabaseRestoreRequest& request);
void RecvDatabaseRestoreRequest(SOCKET s, DatabaseRestoreRequest& request);

// What DiscoverServers sends after its first status byte: "cont", the server
// count, the partitioned flag, the computer name, then the records.
struct DiscoveryReply {
  bool partitioned = false;
  std::string computerName;
  std::vector<DominoServerInfo> servers;
};
inline constexpr const char* kDiscoveryContinue = "cont";

// Sends the first serverCount records of servers (never more than it holds,
// and the count sent is the number of records that follow).
void SendDiscoveryReplyTail(SOCKET s, std::uint32_t serverCount, bool partitioned,
                            const std::string& computerName,
                            const std::vector<DominoServerInfo>& servers);
// Raises WireError("unexpected reply") when the tail does not begin with "cont".
void RecvDiscoveryReplyTail(SOCKET s, DiscoveryReply& reply);

}  // namespace ark
