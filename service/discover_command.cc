#include "service/discover_command.h"

#include "net/command.h"
#include "net/wire.h"
#include "net/wire_records.h"
#include "output/output.h"
#include "snapshot/disk_listing.h"

namespace ark {

namespace {

bool HandleDiscoverServers(platform::SOCKET client, Command&) {
  ClearStreamingConnection();
  SendByte(client, 1);
  DiscoveryResult result;
  DiscoverServersAndStorage(result);
  SendDiscoveryReplyTail(client, static_cast<std::uint32_t>(result.serverCount), result.partitioned,
                         result.computerName, result.servers);
  return true;
}

}  // namespace

void RegisterDiscoverCommand() { RegisterCommand(CommandCode::DiscoverServers, HandleDiscoverServers); }

}  // namespace ark
