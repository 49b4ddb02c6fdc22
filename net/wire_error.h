// The text errors of the wire: a failed or timed-out socket call raises one
// of these texts, and the conversation with that client is then over.
#pragma once

#include <string>

namespace ark {

// A thrown text. It is a std::string, so code that catches text errors
// (catch (const std::string&)) catches it too.
class WireError : public std::string {
 public:
  explicit WireError(const char* text) : std::string(text) {}
  explicit WireError(std::string text) : std::string(std::move(text)) {}
  const std::string& text() const { return *this; }
};

// The texts raised by the primitives.
inline constexpr const char* kSelectFailed = "select failed";
inline constexpr const char* kRecvTimedOut = "recv timed out";
inline constexpr const char* kRecvFailed = "recv failed";
inline constexpr const char* kClientClosed = "client closed the socket";
inline constexpr const char* kSendTimedOut = "send timed out";
inline constexpr const char* kSendFailed = "send failed";
inline constexpr const char* kSendStringFailed = "send failed\n";

}  // namespace ark
