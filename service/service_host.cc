#include "service/service_host.h"

#include <cstdio>
#include <mutex>

#include "ledger/restore_journal.h"
#include "net/session.h"
#include "output/output.h"
#include "platform/com.h"
#include "platform/host.h"
#include "platform/socket.h"
#include "platform/process.h"
#include "service/components.h"
#include "service/event_log.h"
#include "service/event_source.h"
#include "service/service_errors.h"

namespace ark {

namespace {

// The status record is written by the control handler (first thread) and
// the service thread; the lock keeps each report whole.
std::mutex g_statusMutex;
platform::SERVICE_STATUS g_status;
platform::SERVICE_STATUS_HANDLE g_statusHandle = nullptr;

std::uint16_t g_port = kServicePort;
// Set by the service thread when the listener could not be made; read after
// the dispatcher returned (the service thread has ended by then).
std::string g_listenerFailure;

void ReportStatusLocked() {
  if (!platform::SetServiceStatus(g_statusHandle, g_status))
    DebugTrace(FormatLastError("SetServiceStatus", 0));
}

void SetStateLocked(DWORD state, DWORD win32ExitCode, DWORD serviceSpecificExitCode) {
  g_status.dwServiceType = platform::SERVICE_WIN32_OWN_PROCESS;
  g_status.dwCurrentState = state;
  g_status.dwControlsAccepted = platform::SERVICE_ACCEPT_STOP;
  g_status.dwWin32ExitCode = win32ExitCode;
  g_status.dwServiceSpecificExitCode = serviceSpecificExitCode;
  g_status.dwCheckPoint = 0;
  g_status.dwWaitHint = 0;
  ReportStatusLocked();
}

// Start pending: filled in, not reported.
void InitialiseStatus() {
  std::lock_guard<std::mutex> lock(g_statusMutex);
  g_status = platform::SERVICE_STATUS{};
  g_status.dwServiceType = platform::SERVICE_WIN32_OWN_PROCESS;
  g_status.dwCurrentState = platform::SERVICE_START_PENDING;
  g_status.dwControlsAccepted = platform::SERVICE_ACCEPT_STOP;
}

constexpr WORD kWinsockVersion = 0x0202;

// A restore that died with the last process left its journal: the
// administrator hears of it before the next backup refuses.
void ReportInterruptedRestores() {
  for (const FoundJournal& found : ListInterruptedRestores()) {
    const std::string kept = found.keptLogs.empty() ? std::string("(none)") : found.keptLogs;
    const std::string line = found.text.substr(0, found.text.find('\r'));
    ReportEvent(EVENTLOG_WARNING_TYPE, kCategoryRestore, kEventRestoreInterrupted, {line, kept});
    DebugTrace("Interrupted restore found: " + line + " Journal " + found.path + "; active logs kept in " + kept);
  }
}

// Winsock 2.2 exactly, COM, the event source and the start event.
void StartUp() {
  WORD obtained = 0;
  if (platform::WSAStartup(kWinsockVersion, &obtained) != 0) throw WinsockUnavailable();
  if (obtained != kWinsockVersion) {
    platform::WSACleanup();
    throw WinsockUnavailable();
  }
  platform::CoInitialize();
  RegisterEventSource();
  ReportEvent(EVENTLOG_INFORMATION_TYPE, kCategoryService, kEventServiceStarted);
  ReportInterruptedRestores();
}

int CleanUp() {
  platform::WSACleanup();
  platform::CoUninitialize();
  return ReportEvent(EVENTLOG_INFORMATION_TYPE, kCategoryService, kEventServiceStopped);
}

std::string LimitText(std::uint64_t value) {
  return value == UINT64_MAX ? std::string("unlimited") : std::to_string(value);
}

// A backup holds every database of a server open at once: the soft limit of
// open files (1,024 for a service by default) goes up to the hard limit.
void RaiseOpenFileLimit() {
  platform::OpenFileLimits after;
  const platform::OpenFileLimits before = platform::RaiseOpenFileLimit(&after);
  if (after.soft != before.soft) {
    DebugTrace("Open file limit raised from " + LimitText(before.soft) + " to " + LimitText(after.soft));
  } else {
    DebugTrace("Open file limit " + LimitText(after.soft) + " (hard limit " + LimitText(after.hard) + ")");
  }
}

}  // namespace

DWORD CurrentServiceState() {
  std::lock_guard<std::mutex> lock(g_statusMutex);
  return g_status.dwCurrentState;
}

void ReportStatus() {
  std::lock_guard<std::mutex> lock(g_statusMutex);
  ReportStatusLocked();
}

void SetRunning(DWORD win32ExitCode, DWORD serviceSpecificExitCode) {
  std::lock_guard<std::mutex> lock(g_statusMutex);
  // A stop that arrived while the service was starting is kept.
  if (g_status.dwCurrentState != platform::SERVICE_START_PENDING) return;
  SetStateLocked(platform::SERVICE_RUNNING, win32ExitCode, serviceSpecificExitCode);
}

void SetStopPending(DWORD win32ExitCode, DWORD serviceSpecificExitCode) {
  std::lock_guard<std::mutex> lock(g_statusMutex);
  if (g_status.dwCurrentState == platform::SERVICE_STOPPED) return;
  SetStateLocked(platform::SERVICE_STOP_PENDING, win32ExitCode, serviceSpecificExitCode);
}

void SetStopped(DWORD win32ExitCode, DWORD serviceSpecificExitCode) {
  std::lock_guard<std::mutex> lock(g_statusMutex);
  SetStateLocked(platform::SERVICE_STOPPED, win32ExitCode, serviceSpecificExitCode);
}

void ServiceCtrlHandler(DWORD opcode) {
  switch (opcode) {
    case platform::SERVICE_CONTROL_STOP:
      SetStopPending(0, 0);
      break;
    case platform::SERVICE_CONTROL_INTERROGATE:
      ReportStatus();
      break;
    default:
      DebugTrace("Unrecognized opcode: " + std::to_string(opcode));
      break;
  }
}

void ServiceMain(DWORD, char**) {
  try {
    g_statusHandle = platform::RegisterServiceCtrlHandler(kServiceName, ServiceCtrlHandler);
    if (g_statusHandle == nullptr) throw RegSvcCtrlHandlerError(0);
    InitialiseStatus();
    platform::Socket listener;
    try {
      listener = CreateListener(g_port);
    } catch (const std::string& text) {
      g_listenerFailure = text;
      SetStopped(kErrorServiceSpecificError, kListenerFailureCode);
      return;
    }
    SetRunning(0, 0);
    std::printf("arkserver: listening on port %u\n", unsigned(platform::LocalPort(listener.get())));
    std::fflush(stdout);
    while (CurrentServiceState() == platform::SERVICE_RUNNING) ServeOneConnection(listener.get());
    CloseListener(listener);
    DebugTrace("Returning the Main Thread");
    SetStopped(0, 0);
  } catch (const SvcInitError& error) {
    SetStopped(error.win32ExitCode(), error.serviceSpecificExitCode());
  } catch (const SvcError& error) {
    DebugTrace(error.Text());
  }
}

int RunServiceProcess(const ServiceOptions& options) {
  platform::SetHostRoot(options.root);
  RaiseOpenFileLimit();
  SetIoTimeoutSeconds(options.ioTimeoutSeconds);
  SetOutputSendTimeoutSeconds(options.ioTimeoutSeconds);
  g_port = options.port;
  try {
    StartUp();
  } catch (const ARKError& error) {
    std::fprintf(stderr, "arkserver: %s\n", error.Text().c_str());
    return kExitFailure;
  }
  InstallComponents();
  DWORD lastError = 0;
  bool dispatched = platform::StartServiceCtrlDispatcher(kServiceName, ServiceMain, &lastError);
  if (!dispatched) DebugTrace(FormatLastError("StartServiceCtrlDispatcher", lastError));
  int cleanUp = CleanUp();
  if (!g_listenerFailure.empty()) {
    std::fprintf(stderr, "arkserver: cannot listen on port %u: %s\n", unsigned(options.port),
                 g_listenerFailure.c_str());
    return kExitListenerFailure;
  }
  if (!dispatched) {
    std::fprintf(stderr, "arkserver: the service could not be started (error %u)\n", unsigned(lastError));
    return kExitFailure;
  }
  return cleanUp == 0 ? kExitOk : kExitFailure;
}

}  // namespace ark
