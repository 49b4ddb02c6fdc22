// One client at a time: a service turn waits for a client and runs a whole
// command session with it on the calling thread.
#pragma once

#include "net/listener.h"
#include "platform/socket.h"

namespace ark {

// How long a turn pauses after the listener failed (listen, select or
// accept), so that a lasting failure neither ends nor spins the service.
inline constexpr long kListenerRetryMilliseconds = 1000;

// Reads and answers commands until EndSession, a connection failure or an
// error that a handler does not catch (which is raised to the caller: a
// WireError for a failed connection). Does not close the client.
void RunSession(platform::SOCKET client);

// One turn of the service loop: listen, wait up to waitMilliseconds for a
// client, run its session, close its connection. Every error is written to
// standard output and caught; the turn always returns. A client outside
// ALLOWED_CLIENTS is closed unread, with a warning event (0x40000072) naming
// its address. After a listener failure the turn sleeps
// kListenerRetryMilliseconds before it returns. COM is initialised for the
// turn and released at its end; nothing stays held.
void ServeOneConnection(platform::SOCKET listener, long waitMilliseconds = kAcceptWaitMilliseconds);

}  // namespace ark
