// A client of the service that speaks the wire itself, so a test can walk
// away from a backup or restore at a chosen line of its running text.
#pragma once

#include <cstdint>
#include <string>

#include "common/records.h"
#include "platform/socket.h"

namespace faults {

class StreamingClient {
 public:
  explicit StreamingClient(std::uint16_t port);

  bool connected() const { return socket_.valid(); }
  // The server's record as discovery reports it (with its snapshots);
  // ends the test when the service does not know it.
  DominoServerInfo Discover(const std::string& commonName);
  void StartBackup(const DominoServerInfo& server, const BackupRequest& request = {});
  void StartRestore(const DominoServerInfo& server, const SnapshotEntry& snapshot, bool pointInTime);
  // Reads the running text until a piece holds needle (true) or the run
  // sends "done" or the connection ends (false); appends what came to seen.
  bool ReadUntil(const std::string& needle, std::string& seen);
  // Closes the connection without ending the session.
  void Vanish() { socket_.reset(); }

 private:
  platform::Socket socket_;
};

}  // namespace faults
