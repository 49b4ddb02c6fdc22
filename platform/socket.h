// Sockets behind the calls the engine makes (Winsock on Windows).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/native_handle.h"
#include "platform/win_types.h"

namespace platform {

// Winsock for the process: WSAStartup asks for a version (0x0202) and gives
// 0 with the version obtained, else a Winsock error; WSACleanup undoes one
// successful start. The calls below also start Winsock themselves when the
// program has not (clients and tests). POSIX sockets need neither.
int WSAStartup(WORD requested, WORD* obtained);
void WSACleanup();

// SOCKET and INVALID_SOCKET come from platform/native_handle.h: a
// descriptor on POSIX, Winsock's SOCKET on Windows.

// An owned socket, closed by the destructor (get, valid, release, reset).
using Socket = NativeSocket;

// An IPv4 TCP listener on every local address (SO_REUSEADDR); INVALID_SOCKET
// from socket() failure; bindFailed set when bind fails (socket closed).
Socket CreateTcpListener(std::uint16_t port, bool* bindFailed);
int Listen(SOCKET s, int backlog);  // 0 or -1
// Waits for readability (forWrite false) or writability; -1 error, 0 timeout, 1 ready.
int WaitReady(SOCKET s, bool forWrite, long timeoutMilliseconds);
// accept(); INVALID_SOCKET on failure with *wsaError set to the Winsock code
// (WSAEINTR 10004 ...). peerAddress receives the IPv4 address in host order.
SOCKET Accept(SOCKET listener, int* wsaError, std::uint32_t* peerAddress);
// One recv/send with flags 0 (MSG_NOSIGNAL for send): bytes, 0, or -1.
// A send never blocks: it takes what the socket can hold now (0 when nothing
// fits), so a guarded wait before it is the only place that waits.
long Recv(SOCKET s, void* buffer, std::size_t length);
long Send(SOCKET s, const void* buffer, std::size_t length);
// A client connection (for arkctl and tests); INVALID_SOCKET on failure with *error set.
// The connection attempt gives up after timeoutMilliseconds.
Socket ConnectTcp(const std::string& host, std::uint16_t port, std::string* error,
                  long timeoutMilliseconds = 10000);
std::uint16_t LocalPort(SOCKET s);  // port a socket is bound to

}  // namespace platform
