// The service host: the process entry, the service's main function on the
// service thread, its status record and its control handler.
#pragma once

#include <cstdint>
#include <string>

#include "net/io_timeout.h"
#include "net/listener.h"
#include "platform/service.h"
#include "platform/win_types.h"

namespace ark {

struct ServiceOptions {
  std::string root;  // the host root
  std::uint16_t port = kServicePort;  // 0: any free port (written at start)
  int ioTimeoutSeconds = kDefaultIoTimeoutSeconds;
};

// Exit codes of the process.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;          // start-up or clean-up failed
inline constexpr int kExitListenerFailure = 2;  // the port could not be used

// Exit codes reported with the stopped state after a listener failure.
inline constexpr DWORD kErrorServiceSpecificError = 1066;
inline constexpr DWORD kListenerFailureCode = 1;

// The whole process: start-up (event source registration, start event),
// the components, the dispatcher (until the service stopped), clean-up
// (stop event). Returns the process's exit code: kExitOk; kExitFailure when
// start-up failed (Winsock, or the event source; nothing served), the
// dispatcher could not start, or the stop event could not be written;
// kExitListenerFailure when the port could not be bound. Start-up and
// listener failures are written to standard error. Winsock and COM are
// released at the end, except after a failed start-up, where the process is
// left to end with them.
int RunServiceProcess(const ServiceOptions& options);

// The service thread: registers the control handler, creates the listener
// (on failure: stopped with 1066/1, the reason kept for RunServiceProcess),
// reports running, prints "arkserver: listening on port N", serves one
// connection after the other while running, then closes the listener and
// reports stopped. Raises nothing; a failure to register the handler goes
// to the debug trace only.
void ServiceMain(DWORD argc, char** argv);
// Stop: stop pending (the service loop ends after its current turn);
// interrogate: the status again; any other code goes to the debug trace.
void ServiceCtrlHandler(DWORD opcode);

// Each sets the state and exit codes and reports the status (a report that
// fails goes to the debug trace, with error code 0). SetRunning does nothing
// unless the service is start-pending (a stop that came first is kept);
// SetStopPending does nothing once stopped.
void SetRunning(DWORD win32ExitCode, DWORD serviceSpecificExitCode);
void SetStopPending(DWORD win32ExitCode, DWORD serviceSpecificExitCode);
void SetStopped(DWORD win32ExitCode, DWORD serviceSpecificExitCode);
void ReportStatus();
DWORD CurrentServiceState();

}  // namespace ark
