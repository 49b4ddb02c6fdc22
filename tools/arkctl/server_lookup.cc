#include "tools/arkctl/server_lookup.h"

#include "net/wire.h"
#include "net/wire_records.h"
#include "platform/text.h"

namespace ark {

DiscoveryReply DiscoverAllServers(ServiceConnection& connection, const std::string& commandName) {
  connection.SendCommand(CommandCode::DiscoverServers);
  const int status = RecvByte(connection.socket());
  if (status != 1) connection.Refused(commandName, CommandCode::DiscoverServers, status);
  DiscoveryReply reply;
  RecvDiscoveryReplyTail(connection.socket(), reply);
  return reply;
}

DominoServerInfo FindServerRecord(DiscoveryReply& reply, const std::string& commandName,
                                  const std::string& wanted) {
  std::string known;
  for (DominoServerInfo& server : reply.servers) {
    if (platform::EqualsNoCase(server.serverName, wanted) ||
        platform::EqualsNoCase(server.commonName, wanted))
      return server;
    known += (known.empty() ? "" : ", ") + server.serverName;
  }
  throw CtlError(kExitUsage, commandName + ": no Domino server named " + wanted + " on " +
                                 reply.computerName +
                                 (known.empty() ? " (discovery found none)" : " (servers: " + known + ")"));
}

DominoServerInfo DiscoverServerRecord(ServiceConnection& connection, const std::string& commandName,
                                      const std::string& wanted) {
  DiscoveryReply reply = DiscoverAllServers(connection, commandName);
  try {
    return FindServerRecord(reply, commandName, wanted);
  } catch (const CtlError&) {
    connection.Finish();
    throw;
  }
}

}  // namespace ark
