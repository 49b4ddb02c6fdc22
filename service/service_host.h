// The service host: the process entry, the service's main function on the
// service thread, its status record and its control handler.
#pragma once

#include <cstdint>
#include <string>

#include "net/io_timeout.h"
#include "net/listener.h"
#include "platform/service.h"
#include "platform/win_types.h"

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
// (stop event). Returns the process's exit code; start-up and listener
// failures are written to standard error.
int RunServiceProcess(const ServiceOptions& options);

void ServiceMain(DWORD argc, char** argv);
void ServiceCtrlHandler(DWORD opcode);

void SetRunning(DWORD win32ExitCode, DWORD serviceSpecificExitCode);
void SetStopPending(DWORD win32ExitCode, DWORD serviceSpecificExitCode);
void SetStopped(DWORD win32ExitCode, DWORD serviceSpecificExitCode);
void ReportStatus();
DWORD CurrentServiceState();
