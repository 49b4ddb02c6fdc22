// Winsock 2.2 behind the calls the engine makes. Winsock is started once
// per process on first use (the service also starts it itself at start-up,
// so that a missing Winsock stops the service with the specified text).
#include <mutex>

#include "platform/win32/windows_api.h"

namespace platform {
namespace {

void EnsureWinsock() {
  static std::once_flag once;
  std::call_once(once, [] {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);  // kept for the life of the process
  });
}

// Blocking mode on or off.
bool SetBlocking(::SOCKET s, bool blocking) {
  u_long nonBlocking = blocking ? 0 : 1;
  return ::ioctlsocket(s, FIONBIO, &nonBlocking) == 0;
}

// select() for one socket: -1 error, 0 time-out, 1 ready (errors count as
// ready, so that the following call reports them).
int SelectOne(::SOCKET s, bool forWrite, long timeoutMilliseconds) {
  fd_set ready, failed;
  FD_ZERO(&ready);
  FD_ZERO(&failed);
  FD_SET(s, &ready);
  FD_SET(s, &failed);
  if (timeoutMilliseconds < 0) timeoutMilliseconds = 0;
  timeval timeout{timeoutMilliseconds / 1000, (timeoutMilliseconds % 1000) * 1000};
  const int r = ::select(0, forWrite ? nullptr : &ready, forWrite ? &ready : nullptr, &failed, &timeout);
  if (r == SOCKET_ERROR) return -1;
  return r == 0 ? 0 : 1;
}

std::string WsaText(int code) { return FormatMessage(static_cast<DWORD>(code)); }

}  // namespace

// SO_EXCLUSIVEADDRUSE rather than SO_REUSEADDR: on Windows the latter would
// let a second program take over a port in use.
Socket CreateTcpListener(std::uint16_t port, bool* bindFailed) {
  EnsureWinsock();
  if (bindFailed != nullptr) *bindFailed = false;
  const ::SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return Socket();
  Socket owned(s);
  ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  BOOL one = TRUE;
  ::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&one), sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(port);
  if (::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    if (bindFailed != nullptr) *bindFailed = true;
    owned.reset();
  }
  return owned;
}

int Listen(SOCKET s, int backlog) { return ::listen(s, backlog) == 0 ? 0 : -1; }

int WaitReady(SOCKET s, bool forWrite, long timeoutMilliseconds) {
  if (s == INVALID_SOCKET) return -1;
  return SelectOne(s, forWrite, timeoutMilliseconds);
}

SOCKET Accept(SOCKET listener, int* wsaError, std::uint32_t* peerAddress) {
  sockaddr_in address{};
  int length = sizeof address;
  const ::SOCKET s = ::accept(listener, reinterpret_cast<sockaddr*>(&address), &length);
  if (s == INVALID_SOCKET) {
    if (wsaError != nullptr) *wsaError = ::WSAGetLastError();
    return INVALID_SOCKET;
  }
  ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  // An accepted socket inherits the listener's mode: make it blocking.
  SetBlocking(s, true);
  if (wsaError != nullptr) *wsaError = 0;
  if (peerAddress != nullptr) *peerAddress = ntohl(address.sin_addr.s_addr);
  return s;
}

long Recv(SOCKET s, void* buffer, std::size_t length) {
  const int want = static_cast<int>(length > 0x7FFFFFFF ? 0x7FFFFFFF : length);
  const int n = ::recv(s, static_cast<char*>(buffer), want, 0);
  return n == SOCKET_ERROR ? -1 : static_cast<long>(n);
}

// Never blocks: the socket is non-blocking for the one call, so a large
// buffer takes what the socket can hold now and the caller's guarded wait
// stays the only place that waits.
long Send(SOCKET s, const void* buffer, std::size_t length) {
  const ::SOCKET native = s;
  if (!SetBlocking(native, false)) return -1;
  const int want = static_cast<int>(length > 0x7FFFFFFF ? 0x7FFFFFFF : length);
  const int n = ::send(native, static_cast<const char*>(buffer), want, 0);
  const int error = n == SOCKET_ERROR ? ::WSAGetLastError() : 0;
  SetBlocking(native, true);
  if (n == SOCKET_ERROR) return error == WSAEWOULDBLOCK ? 0 : -1;
  return static_cast<long>(n);
}

Socket ConnectTcp(const std::string& host, std::uint16_t port, std::string* error, long timeoutMilliseconds) {
  EnsureWinsock();
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found); rc != 0) {
    if (error != nullptr) *error = "cannot resolve " + host + ": " + WsaText(rc);
    return Socket();
  }
  std::string lastError = "no address";
  Socket result;
  for (addrinfo* a = found; a != nullptr && !result.valid(); a = a->ai_next) {
    const ::SOCKET s = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (s == INVALID_SOCKET) {
      lastError = WsaText(::WSAGetLastError());
      continue;
    }
    Socket owned(s);
    ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    SetBlocking(s, false);
    int r = ::connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen));
    if (r != 0 && ::WSAGetLastError() == WSAEWOULDBLOCK) {
      const int ready = SelectOne(s, true, timeoutMilliseconds);
      if (ready == 0) {
        lastError = "connection timed out";
        continue;
      }
      int soError = 0;
      int len = sizeof soError;
      if (ready < 0 || ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &len) != 0) {
        soError = ::WSAGetLastError();
      }
      r = soError == 0 ? 0 : -1;
      if (r != 0) lastError = WsaText(soError);
    } else if (r != 0) {
      lastError = WsaText(::WSAGetLastError());
    }
    if (r != 0) continue;
    SetBlocking(s, true);
    result = std::move(owned);
  }
  ::freeaddrinfo(found);
  if (!result.valid() && error != nullptr) *error = lastError;
  return result;
}

std::uint16_t LocalPort(SOCKET s) {
  sockaddr_in address{};
  int length = sizeof address;
  if (::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return ntohs(address.sin_port);
}

int WSAStartup(WORD requested, WORD* obtained) {
  WSADATA data;
  const int rc = ::WSAStartup(requested, &data);
  if (rc == 0 && obtained != nullptr) *obtained = data.wVersion;
  return rc;
}

void WSACleanup() { ::WSACleanup(); }

}  // namespace platform
