// Finding one Domino server of the host by name through discovery (code 6),
// for the commands that send a server record back to the service.
#pragma once

#include <string>

#include "common/records.h"
#include "net/wire_records.h"
#include "tools/arkctl/connection.h"

namespace ark {

// Every server of the host as discovery reports it (with the computer name
// and the partitioned flag); commandName begins a refusal's message. A status
// other than 1 ends the session and raises CtlError(kExitServiceRefused);
// a failed conversation raises a WireError.
DiscoveryReply DiscoverAllServers(ServiceConnection& connection, const std::string& commandName);

// The record of a discovery reply named wanted: display name (srv1/Org) or
// short name (srv1), letter case ignored. When there is none, raises
// CtlError(kExitUsage) naming the servers it has; commandName begins the
// message.
DominoServerInfo FindServerRecord(DiscoveryReply& reply, const std::string& commandName,
                                  const std::string& wanted);

// The server's record (with its snapshots) as discovery reports it, by
// display name (srv1/Org) or short name (srv1), letter case ignored. When the
// host has no such server, ends the session and raises CtlError(kExitUsage)
// naming the servers it has; commandName begins the message.
DominoServerInfo DiscoverServerRecord(ServiceConnection& connection, const std::string& commandName,
                                      const std::string& wanted);

}  // namespace ark
