// Sockets on POSIX: IPv4 TCP behind the calls the engine makes.
#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {

namespace {

long long NowMilliseconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// poll() for one event, restarted after signals with the time that is left.
// -1 error, 0 time-out, 1 ready. Errors and hang-ups count as ready so that
// the following recv/send reports them.
int PollOne(int fd, short events, long timeoutMilliseconds) {
  const long long deadline = NowMilliseconds() + (timeoutMilliseconds < 0 ? 0 : timeoutMilliseconds);
  for (;;) {
    pollfd p{fd, events, 0};
    long long left = deadline - NowMilliseconds();
    if (left < 0) left = 0;
    int r = ::poll(&p, 1, static_cast<int>(left > 0x7FFFFFFF ? 0x7FFFFFFF : left));
    if (r < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (r == 0) return 0;
    if (p.revents & POLLNVAL) return -1;
    return 1;
  }
}

// Winsock's code for an errno of accept().
int WsaCodeOf(int error) {
  switch (error) {
    case EINTR: return 10004;         // WSAEINTR
    case EFAULT: return 10014;        // WSAEFAULT
    case EINVAL: return 10022;        // WSAEINVAL
    case EMFILE:
    case ENFILE: return 10024;        // WSAEMFILE
    case EAGAIN: return 10035;        // WSAEWOULDBLOCK
    case EBADF:
    case ENOTSOCK: return 10038;      // WSAENOTSOCK
    case EOPNOTSUPP: return 10045;    // WSAEOPNOTSUPP
    case ENETDOWN: return 10050;      // WSAENETDOWN
    case ECONNABORTED: return 10053;  // WSAECONNABORTED
    case ENOBUFS:
    case ENOMEM: return 10055;        // WSAENOBUFS
    default: return 10000 + error;
  }
}

}  // namespace

Socket CreateTcpListener(std::uint16_t port, bool* bindFailed) {
  if (bindFailed != nullptr) *bindFailed = false;
  Socket s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
  if (!s.valid()) return s;
  int one = 1;
  ::setsockopt(s.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(port);
  if (::bind(s.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    if (bindFailed != nullptr) *bindFailed = true;
    s.reset();
  }
  return s;
}

int Listen(SOCKET s, int backlog) { return ::listen(s, backlog) == 0 ? 0 : -1; }

int WaitReady(SOCKET s, bool forWrite, long timeoutMilliseconds) {
  if (s < 0) return -1;
  return PollOne(s, forWrite ? POLLOUT : POLLIN, timeoutMilliseconds);
}

SOCKET Accept(SOCKET listener, int* wsaError, std::uint32_t* peerAddress) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  int s = ::accept4(listener, reinterpret_cast<sockaddr*>(&address), &length, SOCK_CLOEXEC);
  if (s < 0) {
    if (wsaError != nullptr) *wsaError = WsaCodeOf(errno);
    return INVALID_SOCKET;
  }
  if (wsaError != nullptr) *wsaError = 0;
  if (peerAddress != nullptr) *peerAddress = ntohl(address.sin_addr.s_addr);
  return s;
}

long Recv(SOCKET s, void* buffer, std::size_t length) {
  for (;;) {
    ssize_t n = ::recv(s, buffer, length, 0);
    if (n < 0 && errno == EINTR) continue;
    return n < 0 ? -1 : static_cast<long>(n);
  }
}

long Send(SOCKET s, const void* buffer, std::size_t length) {
  // Never blocks: a send of a large buffer takes what the socket can hold
  // now, so the caller's guarded wait stays the only place that waits.
  for (;;) {
    ssize_t n = ::send(s, buffer, length, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
    return n < 0 ? -1 : static_cast<long>(n);
  }
}

Socket ConnectTcp(const std::string& host, std::uint16_t port, std::string* error,
                  long timeoutMilliseconds) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* found = nullptr;
  std::string service = std::to_string(port);
  int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
  if (rc != 0) {
    if (error != nullptr) *error = "cannot resolve " + host + ": " + ::gai_strerror(rc);
    return Socket();
  }
  std::string lastError = "no address";
  Socket result;
  for (addrinfo* a = found; a != nullptr && !result.valid(); a = a->ai_next) {
    Socket s(::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol));
    if (!s.valid()) {
      lastError = std::strerror(errno);
      continue;
    }
    int r = ::connect(s.get(), a->ai_addr, a->ai_addrlen);
    if (r != 0 && errno == EINPROGRESS) {
      int ready = PollOne(s.get(), POLLOUT, timeoutMilliseconds);
      if (ready == 0) {
        lastError = "connection timed out";
        continue;
      }
      int soError = 0;
      socklen_t len = sizeof soError;
      if (ready < 0 || ::getsockopt(s.get(), SOL_SOCKET, SO_ERROR, &soError, &len) != 0) soError = errno;
      errno = soError;
      r = soError == 0 ? 0 : -1;
    }
    if (r != 0) {
      lastError = std::strerror(errno);
      continue;
    }
    int flags = ::fcntl(s.get(), F_GETFL);
    ::fcntl(s.get(), F_SETFL, flags & ~O_NONBLOCK);
    result = std::move(s);
  }
  ::freeaddrinfo(found);
  if (!result.valid() && error != nullptr) *error = lastError;
  return result;
}

std::uint16_t LocalPort(SOCKET s) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return ntohs(address.sin_port);
}

int WSAStartup(WORD requested, WORD* obtained) {
  if (obtained != nullptr) *obtained = requested;
  return 0;
}

void WSACleanup() {}

}  // namespace platform
