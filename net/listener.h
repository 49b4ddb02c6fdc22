// The service's TCP listener: one IPv4 socket on every local address.
#pragma once

#include <cstdint>
#include <string>

#include "platform/socket.h"

namespace ark {

inline constexpr std::uint16_t kServicePort = 5555;
inline constexpr int kListenBacklog = 1;
// How long one service turn waits for a client.
inline constexpr long kAcceptWaitMilliseconds = 1000;

// Creates and binds the listener. Raises the text "Invalid socket" when no
// socket can be made, "bind() failed." when the port cannot be bound.
platform::Socket CreateListener(std::uint16_t port = kServicePort);

// Waits up to waitMilliseconds for a client. False when none came (client
// untouched); true with the accepted connection in client, which the caller
// then owns. Raises "select failed" or
// "accept() failed: " + the error's name.
// peerAddress (when given) receives the client's IPv4 address in host order.
bool AcceptClient(platform::SOCKET listener, platform::Socket& client,
                  long waitMilliseconds = kAcceptWaitMilliseconds,
                  std::uint32_t* peerAddress = nullptr);

// The name that "accept() failed: " carries for a Winsock error code.
std::string AcceptErrorName(int wsaError);

// Closes the listener (a closed one stays closed); never fails.
void CloseListener(platform::Socket& listener);

}  // namespace ark
