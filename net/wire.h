// The values that cross a client connection: bytes, bools, little-endian
// u32s and length-prefixed strings. There is no framing beyond these: both
// sides read exactly what the other writes. Every single socket call waits
// for readiness at most IoTimeoutMilliseconds(); every failure raises a
// WireError holding one of the texts of net/wire_error.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/records.h"
#include "net/io_timeout.h"
#include "net/wire_error.h"
#include "platform/socket.h"

namespace ark {

using platform::SOCKET;

// A received string longer than this ends the conversation ("recv failed")
// before anything is allocated for it. Reports, the largest texts that
// travel, stay far below.
inline constexpr std::uint32_t kMaxWireStringLength = 64u * 1024u * 1024u;

// One guarded recv/send: waits for readiness, then one call; returns what the
// call returned (bytes, 0, or -1). Raises "select failed", "recv timed out"
// or "send timed out".
long RecvWithTimeout(SOCKET s, void* buffer, std::size_t length);
long SendWithTimeout(SOCKET s, const void* buffer, std::size_t length);

// The raw byte. Callers that use it as a number (command code, report type,
// partition) sign-extend it: static_cast<std::int8_t>.
std::uint8_t RecvByte(SOCKET s);
bool RecvBool(SOCKET s);  // any non-zero byte is true
std::uint32_t RecvU32(SOCKET s);
// Exactly buffer.size() bytes (nothing for an empty buffer). Each Recv
// raises "client closed the socket" when the peer closed, "recv failed" on a
// socket error, besides the waits' texts; bytes already read are consumed.
void RecvBuffer(SOCKET s, std::vector<std::uint8_t>& buffer);
// Length and text. On failure text is left empty.
void RecvString(SOCKET s, std::string& text);
std::string RecvString(SOCKET s);
// A string into a fixed zero-terminated field of size bytes / characters;
// a text that does not fit (terminator included) is cut.
void RecvShortText(SOCKET s, char* field, std::size_t size);
void RecvWideText(SOCKET s, char16_t* field, std::size_t size);
template <std::size_t N>
void RecvShortText(SOCKET s, FixedText<N>& field) {
  RecvShortText(s, field.bytes.data(), N);
}
template <std::size_t N>
void RecvWideText(SOCKET s, FixedWideText<N>& field) {
  RecvWideText(s, field.chars.data(), N);
}

// Each Send writes all its bytes (waiting again while none fit) or raises
// "send failed" (strings: "send failed\n") or a wait's text; part of the
// value may then have gone out.
void SendByte(SOCKET s, int value);  // the low 8 bits
void SendBool(SOCKET s, bool value);  // 1 or 0
void SendU32(SOCKET s, std::uint32_t value);
void SendString(SOCKET s, std::string_view text);
void SendWideText(SOCKET s, std::u16string_view text);  // as ANSI text
template <std::size_t N>
void SendShortText(SOCKET s, const FixedText<N>& field) {
  SendString(s, field.Get());
}

}  // namespace ark
