#include "net/wire.h"

#include <algorithm>
#include <limits>

#include "platform/text.h"

namespace ark {

namespace {

// Received strings grow by pieces of at least this size as bytes arrive, so
// a peer that announces a long string without sending it costs little memory.
constexpr std::size_t kRecvPiece = 1024 * 1024;

void ReceiveExactly(SOCKET s, std::uint8_t* data, std::size_t length) {
  std::size_t received = 0;
  while (received < length) {
    long n = RecvWithTimeout(s, data + received, length - received);
    if (n < 0) throw WireError(kRecvFailed);
    if (n == 0) throw WireError(kClientClosed);
    received += static_cast<std::size_t>(n);
  }
}

// Sends all bytes; a result of 0 (nothing fitted) waits and sends again.
void SendAll(SOCKET s, const char* data, std::size_t length, const char* failure) {
  std::size_t sent = 0;
  while (sent < length) {
    long n = SendWithTimeout(s, data + sent, length - sent);
    if (n < 0) throw WireError(failure);
    sent += static_cast<std::size_t>(n);
  }
}

}  // namespace

long RecvWithTimeout(SOCKET s, void* buffer, std::size_t length) {
  int ready = platform::WaitReady(s, false, IoTimeoutMilliseconds());
  if (ready < 0) throw WireError(kSelectFailed);
  if (ready == 0) throw WireError(kRecvTimedOut);
  return platform::Recv(s, buffer, length);
}

long SendWithTimeout(SOCKET s, const void* buffer, std::size_t length) {
  int ready = platform::WaitReady(s, true, IoTimeoutMilliseconds());
  if (ready < 0) throw WireError(kSelectFailed);
  if (ready == 0) throw WireError(kSendTimedOut);
  return platform::Send(s, buffer, length);
}

std::uint8_t RecvByte(SOCKET s) {
  std::uint8_t byte = 0;
  long n = RecvWithTimeout(s, &byte, 1);
  if (n == 0) throw WireError(kClientClosed);
  if (n < 0) throw WireError(kRecvFailed);
  return byte;
}

bool RecvBool(SOCKET s) { return RecvByte(s) != 0; }

std::uint32_t RecvU32(SOCKET s) {
  std::uint8_t bytes[4];
  ReceiveExactly(s, bytes, sizeof bytes);
  return std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8 | std::uint32_t(bytes[2]) << 16 |
         std::uint32_t(bytes[3]) << 24;
}

void RecvBuffer(SOCKET s, std::vector<std::uint8_t>& buffer) {
  if (buffer.empty()) return;
  ReceiveExactly(s, buffer.data(), buffer.size());
}

void RecvString(SOCKET s, std::string& text) {
  // The characters that text holds now serve as room for the received bytes
  // (a caller that receives again and again reuses its storage); the text
  // grows beyond them as bytes arrive. On failure the text is left empty.
  try {
    std::uint32_t length = RecvU32(s);
    if (length > kMaxWireStringLength) throw WireError(kRecvFailed);
    std::size_t received = 0;
    while (received < length) {
      if (received == text.size()) {
        // Within the capacity, a piece at a time, so that each piece is
        // cleared and filled while it is in the cache; beyond it, growing
        // geometrically.
        std::size_t spare = text.capacity() - text.size();
        std::size_t grow = spare > 0 ? std::min(spare, kRecvPiece) : std::max(text.size() * 3, kRecvPiece);
        text.resize(std::min<std::size_t>(length, text.size() + std::max(grow, kRecvPiece)));
      }
      std::size_t room = std::min<std::size_t>(text.size(), length) - received;
      long n = RecvWithTimeout(s, text.data() + received, room);
      if (n < 0) throw WireError(kRecvFailed);
      if (n == 0) throw WireError(kClientClosed);
      received += static_cast<std::size_t>(n);
    }
    text.resize(length);
  } catch (...) {
    text.clear();
    throw;
  }
}

std::string RecvString(SOCKET s) {
  std::string text;
  RecvString(s, text);
  return text;
}

void RecvShortText(SOCKET s, char* field, std::size_t size) {
  std::string text;
  RecvString(s, text);
  if (size == 0) return;
  std::size_t n = std::min(text.size(), size - 1);
  std::copy_n(text.data(), n, field);
  std::fill(field + n, field + size, '\0');
}

void RecvWideText(SOCKET s, char16_t* field, std::size_t size) {
  std::string text;
  RecvString(s, text);
  if (size == 0) return;
  std::u16string wide = platform::AnsiToWide(text);
  std::size_t n = std::min(wide.size(), size - 1);
  std::copy_n(wide.data(), n, field);
  std::fill(field + n, field + size, u'\0');
}

void SendByte(SOCKET s, int value) {
  const char byte = static_cast<char>(value & 0xFF);
  SendAll(s, &byte, 1, kSendFailed);
}

void SendBool(SOCKET s, bool value) { SendByte(s, value ? 1 : 0); }

void SendU32(SOCKET s, std::uint32_t value) {
  const char bytes[4] = {char(value & 0xFF), char((value >> 8) & 0xFF), char((value >> 16) & 0xFF),
                         char((value >> 24) & 0xFF)};
  SendAll(s, bytes, sizeof bytes, kSendFailed);
}

void SendString(SOCKET s, std::string_view text) {
  // The wire cannot announce more than a u32 can hold.
  if (text.size() > std::numeric_limits<std::uint32_t>::max()) throw WireError(kSendStringFailed);
  SendU32(s, static_cast<std::uint32_t>(text.size()));
  SendAll(s, text.data(), text.size(), kSendStringFailed);
}

void SendWideText(SOCKET s, std::u16string_view text) { SendString(s, platform::WideToAnsi(text)); }

}  // namespace ark
