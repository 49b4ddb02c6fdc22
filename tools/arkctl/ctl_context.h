// What every arkctl command shares: where the service is, how to print, and
// how a command fails.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "net/io_timeout.h"
#include "net/listener.h"

namespace ark {

// Exit codes.
inline constexpr int kExitOk = 0;
inline constexpr int kExitServiceRefused = 1;  // the service answered a failure status
inline constexpr int kExitUsage = 2;           // the command line is wrong
inline constexpr int kExitUnreachable = 3;     // no connection, or the conversation failed

struct CtlContext {
  std::string host = "127.0.0.1";
  std::uint16_t port = kServicePort;
  int ioTimeoutSeconds = kDefaultIoTimeoutSeconds;
  bool json = false;
};

// A command's failure: the message (without the "arkctl: " prefix) and the
// exit code.
class CtlError : public std::runtime_error {
 public:
  CtlError(int exitCode, const std::string& message) : std::runtime_error(message), exitCode_(exitCode) {}
  int exitCode() const { return exitCode_; }

 private:
  int exitCode_;
};

}  // namespace ark
