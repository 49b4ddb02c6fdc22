// One conversation with the service: connect, send commands, read their
// answers, and end the session politely.
#pragma once

#include <cstdint>
#include <string>

#include "net/command.h"
#include "platform/socket.h"
#include "tools/arkctl/ctl_context.h"

class ServiceConnection {
 public:
  // Connects; raises CtlError(kExitUnreachable) when the service cannot be
  // reached.
  explicit ServiceConnection(const CtlContext& context);
  ~ServiceConnection();  // closes the connection
  ServiceConnection(const ServiceConnection&) = delete;
  ServiceConnection& operator=(const ServiceConnection&) = delete;

  platform::SOCKET socket() const { return socket_.get(); }
  void SendCommand(CommandCode code);
  // Sends EndSession and reads its answer; errors are ignored (the command's
  // own answer is already in).
  void Finish();
  // Ends the session, then raises CtlError(kExitServiceRefused) saying what
  // the status means for the command.
  [[noreturn]] void Refused(const std::string& commandName, CommandCode code, int status);

 private:
  platform::Socket socket_;
  std::string where_;
};

// What a failure status of a command means.
std::string StatusMeaning(CommandCode code, int status);
