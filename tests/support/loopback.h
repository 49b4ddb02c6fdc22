// Test helpers: a connected loopback pair and raw bytes in and out (through
// the platform calls, not the primitives under test).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "net/wire.h"
#include "platform/socket.h"

namespace nettest {

struct LoopbackPair {
  platform::Socket server;  // the accepted end
  platform::Socket client;
};

inline platform::Socket Listening() {
  bool bindFailed = false;
  platform::Socket listener = platform::CreateTcpListener(0, &bindFailed);
  EXPECT_TRUE(listener.valid());
  EXPECT_EQ(platform::Listen(listener.get(), 4), 0);
  return listener;
}

inline platform::Socket Connect(std::uint16_t port) {
  std::string error;
  platform::Socket s = platform::ConnectTcp("127.0.0.1", port, &error);
  EXPECT_TRUE(s.valid()) << error;
  return s;
}

inline LoopbackPair MakeLoopbackPair() {
  platform::Socket listener = Listening();
  LoopbackPair pair;
  pair.client = Connect(platform::LocalPort(listener.get()));
  pair.server.reset(platform::Accept(listener.get(), nullptr, nullptr));
  EXPECT_TRUE(pair.server.valid());
  return pair;
}

inline void WriteRaw(platform::SOCKET s, std::string_view bytes) {
  while (!bytes.empty()) {
    ASSERT_EQ(platform::WaitReady(s, true, 5000), 1);
    long n = platform::Send(s, bytes.data(), bytes.size());
    ASSERT_GE(n, 0);
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

// Up to n bytes; fewer when the peer closes or stays silent for timeoutMs.
inline std::string ReadRaw(platform::SOCKET s, std::size_t n, long timeoutMs = 5000) {
  std::string out;
  char buffer[65536];
  while (out.size() < n) {
    if (platform::WaitReady(s, false, timeoutMs) != 1) break;
    std::size_t want = n - out.size() < sizeof buffer ? n - out.size() : sizeof buffer;
    long got = platform::Recv(s, buffer, want);
    if (got <= 0) break;
    out.append(buffer, static_cast<std::size_t>(got));
  }
  return out;
}

// The bytes that send writes, read on the other end of a fresh pair until
// the sender closes it.
inline std::string SentBytes(const std::function<void(platform::SOCKET)>& send) {
  LoopbackPair pair = MakeLoopbackPair();
  send(pair.client.get());
  pair.client.reset();
  return ReadRaw(pair.server.get(), std::size_t(1) << 24);
}

// True when the peer closed the connection (end of stream within timeoutMs).
inline bool PeerClosed(platform::SOCKET s, long timeoutMs = 5000) {
  if (platform::WaitReady(s, false, timeoutMs) != 1) return false;
  char byte;
  return platform::Recv(s, &byte, 1) <= 0;
}

inline std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

inline std::string U32(std::uint32_t v) {
  return Bytes({int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF), int(v >> 24)});
}

inline std::string WireString(std::string_view text) {
  return U32(static_cast<std::uint32_t>(text.size())) + std::string(text);
}

// The text of the ark::WireError a call throws, "(no error)" when it throws none.
inline std::string ErrorOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const ark::WireError& error) {
    return error.text();
  }
  return "(no error)";
}

}  // namespace nettest
