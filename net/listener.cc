#include "net/listener.h"

#include "net/wire_error.h"

namespace ark {

platform::Socket CreateListener(std::uint16_t port) {
  bool bindFailed = false;
  platform::Socket listener = platform::CreateTcpListener(port, &bindFailed);
  if (!listener.valid()) throw WireError(bindFailed ? "bind() failed." : "Invalid socket");
  return listener;
}

std::string AcceptErrorName(int wsaError) {
  switch (wsaError) {
    case 10004: return "WSAEINTR";
    case 10014: return "WSAEFAULT";
    case 10022: return "WSAEINVAL";
    case 10035: return "WSAEWOULDBLOCK";
    case 10036: return "WSAEINPROGRESS";
    case 10038: return "WSAENOTSOCK";
    case 10045: return "WSAEOPNOTSUPP";
    case 10050: return "WSANETDOWN";
    case 10055: return "WSAENOBUFS";
    case 10093: return "WSANOTINITIALISED";
    default: return "unknown!";
  }
}

bool AcceptClient(platform::SOCKET listener, platform::Socket& client, long waitMilliseconds,
                  std::uint32_t* peerAddress) {
  int ready = platform::WaitReady(listener, false, waitMilliseconds);
  if (ready < 0) throw WireError("select failed");
  if (ready == 0) return false;
  int wsaError = 0;
  platform::SOCKET accepted = platform::Accept(listener, &wsaError, peerAddress);
  if (accepted == platform::INVALID_SOCKET) throw WireError("accept() failed: " + AcceptErrorName(wsaError));
  client.reset(accepted);
  return true;
}

void CloseListener(platform::Socket& listener) { listener.reset(); }

}  // namespace ark
