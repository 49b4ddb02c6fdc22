// Reads wire strings (u32 little-endian length, then the bytes) from the
// client end of a streaming connection.
#pragma once

#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <string>

// Reads exactly n bytes; false at end of stream or on error.
inline bool ReadExactly(int fd, void* buffer, std::size_t n) {
  auto* p = static_cast<char*>(buffer);
  while (n > 0) {
    ssize_t got = ::read(fd, p, n);
    if (got <= 0) return false;
    p += got;
    n -= std::size_t(got);
  }
  return true;
}

inline std::optional<std::string> ReadWireString(int fd) {
  unsigned char header[4];
  if (!ReadExactly(fd, header, 4)) return std::nullopt;
  const std::uint32_t n = std::uint32_t(header[0]) | std::uint32_t(header[1]) << 8 |
                          std::uint32_t(header[2]) << 16 | std::uint32_t(header[3]) << 24;
  std::string text(n, '\0');
  if (n > 0 && !ReadExactly(fd, text.data(), n)) return std::nullopt;
  return text;
}

// A connected pair of stream sockets: [0] the service's end, [1] the client's.
struct SocketPair {
  int fd[2] = {-1, -1};
  SocketPair() { ::socketpair(AF_UNIX, SOCK_STREAM, 0, fd); }
  ~SocketPair() {
    CloseClient();
    if (fd[0] >= 0) ::close(fd[0]);
  }
  void CloseClient() {
    if (fd[1] >= 0) ::close(fd[1]);
    fd[1] = -1;
  }
  SocketPair(const SocketPair&) = delete;
  SocketPair& operator=(const SocketPair&) = delete;
};
