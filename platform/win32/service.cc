// The service control manager: the dispatcher, the control handler and the
// status reports on the system's own calls.
#include <atomic>

#include "platform/win32/windows_api.h"

namespace platform {
namespace {

std::atomic<ServiceMainFunction> g_serviceMain{nullptr};
std::atomic<HandlerFunction> g_handler{nullptr};
std::atomic<DWORD> g_lastState{0};

// The manager calls these with its own types; they hand over to the
// functions the engine gave.
void WINAPI ServiceMainEntry(WinDWORD argc, LPSTR* argv) {
  if (const ServiceMainFunction main = g_serviceMain.load()) main(static_cast<DWORD>(argc), argv);
}

void WINAPI HandlerEntry(WinDWORD opcode) {
  if (const HandlerFunction handler = g_handler.load()) handler(static_cast<DWORD>(opcode));
}

}  // namespace

bool StartServiceCtrlDispatcher(const std::string& serviceName, ServiceMainFunction serviceMain, DWORD* lastError) {
  if (serviceMain == nullptr) {
    if (lastError != nullptr) *lastError = ERROR_INVALID_PARAMETER;
    return false;
  }
  g_serviceMain = serviceMain;
  std::string name = serviceName;
  SERVICE_TABLE_ENTRYA table[] = {{name.data(), ServiceMainEntry}, {nullptr, nullptr}};
  if (!::StartServiceCtrlDispatcherA(table)) {
    if (lastError != nullptr) *lastError = static_cast<DWORD>(::GetLastError());
    return false;
  }
  return true;
}

SERVICE_STATUS_HANDLE RegisterServiceCtrlHandler(const std::string& serviceName, HandlerFunction handler) {
  g_handler = handler;
  return reinterpret_cast<SERVICE_STATUS_HANDLE>(::RegisterServiceCtrlHandlerA(serviceName.c_str(), HandlerEntry));
}

bool SetServiceStatus(SERVICE_STATUS_HANDLE handle, const SERVICE_STATUS& status) {
  if (handle == nullptr) return false;
  ::SERVICE_STATUS native = {};
  native.dwServiceType = status.dwServiceType;
  native.dwCurrentState = status.dwCurrentState;
  native.dwControlsAccepted = status.dwControlsAccepted;
  native.dwWin32ExitCode = status.dwWin32ExitCode;
  native.dwServiceSpecificExitCode = status.dwServiceSpecificExitCode;
  native.dwCheckPoint = status.dwCheckPoint;
  native.dwWaitHint = status.dwWaitHint;
  if (!::SetServiceStatus(reinterpret_cast<::SERVICE_STATUS_HANDLE>(handle), &native)) return false;
  g_lastState = status.dwCurrentState;
  return true;
}

DWORD LastReportedServiceState() { return g_lastState.load(); }

}  // namespace platform
