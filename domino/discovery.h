// Discovery of the Domino servers installed on the host.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "common/records.h"

namespace ark {

// One storage disk as the discovery's disk table holds it.
struct DiskTableEntry {
  std::string volumeName;
  std::vector<std::string> driveLetters;      // one-character texts
  std::vector<DominoServerInfo> servers;      // every server, as it stood after this disk matched
};

struct DiscoveryResult {
  std::vector<DominoServerInfo> servers;
  std::int32_t serverCount = 0;
  bool partitioned = true;
  std::string computerName;
  std::map<std::string, DominoServerInfo> byServerName;
  std::map<std::string, DominoServerInfo> byDataDirectory;
  std::map<std::string, DiskTableEntry> disks;
};

// Fills the result's servers (not their storage: see DiscoverServersAndStorage);
// 0 on success, else the failing registry read's result or the Domino
// runtime's status.
std::int32_t DiscoverDominoServers(DiscoveryResult& result);

// The data directories of every Domino server that the registry names, read
// as discovery reads them but without starting any server's runtime (so it
// may run in the middle of a backup or restore). Empty when the registry
// names none.
std::vector<std::string> RegisteredDataDirectories();

}  // namespace ark
