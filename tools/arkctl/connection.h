// One conversation with the service: connect, send commands, read their
// answers, and end the session politely.
#pragma once

#include <cstdint>
#include <functional>
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
  // Prints the running text of a long operation as it arrives, until
  // "done"; onText sees each piece. While it streams the service may stay
  // silent for long (a snapshot of a large volume); a service that goes
  // away closes the connection, so the wait is long. Returns the last piece.
  std::string StreamRunText(const CtlContext& context,
                            const std::function<void(const std::string&)>& onText = {});
  // Ends the session, then raises CtlError(kExitServiceRefused) saying what
  // the status means for the command.
  [[noreturn]] void Refused(const std::string& commandName, CommandCode code, int status);

 private:
  platform::Socket socket_;
  std::string where_;
};

// What a failure status of a command means.
std::string StatusMeaning(CommandCode code, int status);
