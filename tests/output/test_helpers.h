// Shared by the output, report and settings tests: the fresh host of
// tests/support, and a connected loopback pair whose client end reads wire
// strings (u32 little-endian length, then the bytes).
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/socket.h"
#include "tests/support/os_calls.h"
#include "tests/support/temp_host.h"

inline bool ReadExactly(platform::SOCKET s, void* buffer, std::size_t n) {
  for (auto* p = static_cast<char*>(buffer); n > 0;) {
    if (platform::WaitReady(s, false, 30000) != 1) return false;
    const long got = platform::Recv(s, p, n);
    if (got <= 0) return false;
    p += got;
    n -= std::size_t(got);
  }
  return true;
}

inline std::optional<std::string> ReadWireString(platform::SOCKET s) {
  unsigned char h[4];
  if (!ReadExactly(s, h, 4)) return std::nullopt;
  std::string text(std::size_t(h[0] | h[1] << 8 | h[2] << 16 | std::uint32_t(h[3]) << 24), '\0');
  if (!text.empty() && !ReadExactly(s, text.data(), text.size())) return std::nullopt;
  return text;
}

// service is the service's end, client the client's; a test closes the
// service's end to let the client read to the end.
struct SocketPair {
  platform::Socket service;
  platform::Socket client;
  SocketPair() {
    bool bindFailed = false;
    platform::Socket listener = platform::CreateTcpListener(0, &bindFailed);
    EXPECT_EQ(platform::Listen(listener.get(), 1), 0);
    std::string error;
    client = platform::ConnectTcp("127.0.0.1", platform::LocalPort(listener.get()), &error);
    service.reset(platform::Accept(listener.get(), nullptr, nullptr));
    EXPECT_TRUE(client.valid() && service.valid()) << error;
  }
};
