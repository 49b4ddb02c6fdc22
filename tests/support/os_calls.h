// What tests do to the process below the platform layer.
#pragma once

#include <string>

#include "platform/socket.h"

// Writes text to the process's standard output below the C library (the
// descriptor on POSIX, the standard output handle on Windows).
void WriteStandardOutputDirectly(const std::string& text);
// Closes the process's standard output, as a service starts without one.
void CloseStandardOutput();
// Closes a connection abortively (a reset), so that the peer's next send
// fails at once.
void AbortConnection(platform::Socket& s);
// Makes the socket's send buffer small, so that a peer that stops reading
// soon blocks the sender.
void ShrinkSendBuffer(platform::SOCKET s);
