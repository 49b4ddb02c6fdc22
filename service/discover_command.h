// The DiscoverServers command (code 6) of the client session.
#pragma once

namespace ark {

// Makes the session answer code 6: clear the streaming connection, reply
// byte 1, discover the host's servers and send "cont", the count, the
// partitioned flag, the computer name and the records. Always status 1: a host
// without servers answers a count of 0. Returns true; a failed conversation
// raises a WireError that ends the session.
void RegisterDiscoverCommand();

}  // namespace ark
