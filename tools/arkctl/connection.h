// One conversation with the service: connect, send commands, read their
// answers, and end the session politely.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "net/command.h"
#include "platform/socket.h"
#include "tools/arkctl/ctl_context.h"

namespace ark {

class ServiceConnection {
 public:
  // Sets the process-wide socket time-out to the context's, then connects
  // (waiting as long); raises CtlError(kExitUnreachable) when the service
  // cannot be reached. Every later call raises a WireError when the
  // conversation fails (arkctl then exits with kExitUnreachable).
  explicit ServiceConnection(const CtlContext& context);
  ~ServiceConnection();  // closes the connection
  ServiceConnection(const ServiceConnection&) = delete;
  ServiceConnection& operator=(const ServiceConnection&) = delete;

  platform::SOCKET socket() const { return socket_.get(); }
  // The code byte.
  void SendCommand(CommandCode code);
  // Sends EndSession and reads its answer, then closes the connection; errors
  // are ignored (the command's own answer is already in). Does nothing once
  // closed.
  void Finish();
  // Prints the running text of a long operation as it arrives, until
  // "done"; onText sees each piece. While it streams the service may stay
  // silent for long (a snapshot of a large volume); a service that goes
  // away closes the connection, so the wait is long (a day a read; the
  // context's time-out comes back after "done", but not when a read fails).
  // Returns the last piece before "done" (empty when none). The text goes to
  // out (nowhere when null).
  std::string StreamRunText(const CtlContext& context,
                            const std::function<void(const std::string&)>& onText = {},
                            std::FILE* out = stdout);
  // Ends the session, then raises CtlError(kExitServiceRefused) saying what
  // the status means for the command.
  [[noreturn]] void Refused(const std::string& commandName, CommandCode code, int status);

 private:
  platform::Socket socket_;
  std::string where_;
};

// What a failure status of a command means ("unexpected answer" for a status
// that command never answers).
std::string StatusMeaning(CommandCode code, int status);

}  // namespace ark
