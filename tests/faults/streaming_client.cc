#include "tests/faults/streaming_client.h"

#include <gtest/gtest.h>

#include "net/command.h"
#include "net/wire.h"
#include "net/wire_records.h"

namespace faults {

StreamingClient::StreamingClient(std::uint16_t port) {
  std::string error;
  socket_ = platform::ConnectTcp("127.0.0.1", port, &error);
  EXPECT_TRUE(socket_.valid()) << error;
  SetIoTimeoutSeconds(60);
}

DominoServerInfo StreamingClient::Discover(const std::string& commonName) {
  SendByte(socket_.get(), int(CommandCode::DiscoverServers));
  EXPECT_EQ(RecvByte(socket_.get()), 1);
  DiscoveryReply reply;
  RecvDiscoveryReplyTail(socket_.get(), reply);
  for (const DominoServerInfo& server : reply.servers) {
    if (server.commonName == commonName) return server;
  }
  ADD_FAILURE() << "discovery does not know " << commonName;
  return {};
}

void StreamingClient::StartBackup(const DominoServerInfo& server, const BackupRequest& request) {
  SendByte(socket_.get(), int(CommandCode::RunBackup));
  EXPECT_EQ(RecvByte(socket_.get()), 1);
  SendBackupRequest(socket_.get(), request);
  DominoServerInfo record = server;
  record.snapshots.clear();
  SendDominoServerInfo(socket_.get(), record);
}

void StreamingClient::StartRestore(const DominoServerInfo& server, const SnapshotEntry& snapshot,
                                   bool pointInTime) {
  SendByte(socket_.get(), int(CommandCode::RunRestore));
  EXPECT_EQ(RecvByte(socket_.get()), 1);
  RestoreRequest request;
  request.server = server;
  request.server.snapshots.clear();
  request.snapshot = snapshot;
  request.pointInTime = pointInTime ? 1 : 0;
  SendRestoreRequest(socket_.get(), request);
}

bool StreamingClient::ReadUntil(const std::string& needle, std::string& seen) {
  try {
    for (;;) {
      std::string piece = RecvString(socket_.get());
      if (piece == "done") return false;
      seen += piece;
      if (piece.find(needle) != std::string::npos) return true;
    }
  } catch (const WireError& error) {
    seen += "[" + error.text() + "]";
    return false;
  }
}

}  // namespace faults
