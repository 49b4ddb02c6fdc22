// One client at a time: a service turn waits for a client and runs a whole
// command session with it on the calling thread.
#pragma once

#include "net/listener.h"
#include "platform/socket.h"

// How long a turn pauses after the listener failed (listen, select or
// accept), so that a lasting failure neither ends nor spins the service.
inline constexpr long kListenerRetryMilliseconds = 1000;

// Reads and answers commands until EndSession, a connection failure or an
// error that a handler does not catch (which is raised to the caller).
void RunSession(platform::SOCKET client);

// One turn of the service loop: listen, wait up to waitMilliseconds for a
// client, run its session, close its connection. Every error is written to
// standard output and caught; the turn always returns.
void ServeOneConnection(platform::SOCKET listener, long waitMilliseconds = kAcceptWaitMilliseconds);
