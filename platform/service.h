// Service control: arkserver is its own service control manager.
#pragma once

#include <string>

#include "platform/win_types.h"

namespace platform {

constexpr DWORD SERVICE_WIN32_OWN_PROCESS = 0x10;
constexpr DWORD SERVICE_STOPPED = 1;
constexpr DWORD SERVICE_START_PENDING = 2;
constexpr DWORD SERVICE_STOP_PENDING = 3;
constexpr DWORD SERVICE_RUNNING = 4;
constexpr DWORD SERVICE_ACCEPT_STOP = 1;
constexpr DWORD SERVICE_CONTROL_STOP = 1;
constexpr DWORD SERVICE_CONTROL_PAUSE = 2;
constexpr DWORD SERVICE_CONTROL_INTERROGATE = 4;

struct SERVICE_STATUS {
  DWORD dwServiceType = 0;
  DWORD dwCurrentState = 0;
  DWORD dwControlsAccepted = 0;
  DWORD dwWin32ExitCode = 0;
  DWORD dwServiceSpecificExitCode = 0;
  DWORD dwCheckPoint = 0;
  DWORD dwWaitHint = 0;
};

using ServiceMainFunction = void (*)(DWORD argc, char** argv);
using HandlerFunction = void (*)(DWORD opcode);
using SERVICE_STATUS_HANDLE = void*;

// Runs serviceMain on a thread of its own (the service thread) and, on the
// calling thread, turns SIGTERM and SIGINT into the stop control and SIGUSR1
// into interrogate, calling the registered handler. Returns when the service
// thread has ended. Returns false (error in *lastError) when it cannot start.
bool StartServiceCtrlDispatcher(const std::string& serviceName, ServiceMainFunction serviceMain,
                                DWORD* lastError);

// Registers the handler; returns a non-null handle.
SERVICE_STATUS_HANDLE RegisterServiceCtrlHandler(const std::string& serviceName,
                                                  HandlerFunction handler);

// Logs each state change (debug trace) and, when NOTIFY_SOCKET is set, sends
// READY=1 on running and STOPPING=1 on stop pending.
bool SetServiceStatus(SERVICE_STATUS_HANDLE handle, const SERVICE_STATUS& status);

// The last state reported through SetServiceStatus (for tests and the CLI).
DWORD LastReportedServiceState();

}  // namespace platform
