// arkserver as its own service control manager: the dispatcher runs the
// service's main function on the service thread and turns signals into
// controls on the calling thread; status changes go to the debug trace and,
// under systemd, to the notification socket.
#include "platform/service.h"

#include <pthread.h>
#include <signal.h>
#include <stddef.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/debug.h"
#include "platform/kit/unique_fd.h"

namespace platform {
namespace {

constexpr long kSignalPollNanoseconds = 200'000'000;

std::atomic<HandlerFunction> g_handler{nullptr};
std::atomic<DWORD> g_lastState{0};
std::atomic<bool> g_dispatching{false};
int g_statusHandle;  // its address is the status handle

const char* StateName(DWORD state) {
  switch (state) {
    case SERVICE_STOPPED: return "stopped";
    case SERVICE_START_PENDING: return "start pending";
    case SERVICE_STOP_PENDING: return "stop pending";
    case SERVICE_RUNNING: return "running";
    default: return "unknown";
  }
}

// Sends one message to systemd's notification socket when there is one.
void NotifySystemd(const char* message) {
  const char* socketPath = std::getenv("NOTIFY_SOCKET");
  if (socketPath == nullptr || *socketPath == '\0') return;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::size_t length = std::strlen(socketPath);
  if (length >= sizeof address.sun_path) return;
  std::memcpy(address.sun_path, socketPath, length);
  if (socketPath[0] == '@') address.sun_path[0] = '\0';  // abstract name
  kit::UniqueFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!fd.valid()) return;
  const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length);
  if (::sendto(fd.get(), message, std::strlen(message), MSG_NOSIGNAL,
               reinterpret_cast<const sockaddr*>(&address), size) < 0) {
    OutputDebugString(std::string("(ARKServer) sd_notify failed: ") + std::strerror(errno) + "\n");
  }
}

}  // namespace

bool StartServiceCtrlDispatcher(const std::string& serviceName, ServiceMainFunction serviceMain,
                                DWORD* lastError) {
  if (serviceMain == nullptr) {
    if (lastError != nullptr) *lastError = ERROR_INVALID_PARAMETER;
    return false;
  }
  if (g_dispatching.exchange(true)) {
    if (lastError != nullptr) *lastError = ERROR_BUSY;
    return false;
  }
  // The controls arrive as signals; blocked here before the service thread
  // exists, they stay blocked in it (it inherits the mask) and are taken
  // only by sigtimedwait below.
  sigset_t controls, previous;
  sigemptyset(&controls);
  sigaddset(&controls, SIGTERM);
  sigaddset(&controls, SIGINT);
  sigaddset(&controls, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &controls, &previous);

  std::string name = serviceName;
  std::vector<char*> argv = {name.data(), nullptr};
  std::atomic<bool> finished{false};
  std::thread serviceThread;
  try {
    serviceThread = std::thread([&] {
      serviceMain(1, argv.data());
      finished = true;
    });
  } catch (const std::system_error&) {
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    g_dispatching = false;
    if (lastError != nullptr) *lastError = ERROR_NOT_ENOUGH_MEMORY;
    return false;
  }

  // A stop that arrives before the service registered its handler is kept
  // and delivered once it has: a stop request is never lost.
  bool stopPending = false;
  const struct timespec poll = {0, kSignalPollNanoseconds};
  while (!finished) {
    const int sig = sigtimedwait(&controls, nullptr, &poll);
    const HandlerFunction handler = g_handler.load();
    if (sig == SIGTERM || sig == SIGINT) stopPending = true;
    if (handler != nullptr && stopPending && !finished) {
      stopPending = false;
      handler(SERVICE_CONTROL_STOP);
    }
    if (sig == SIGUSR1 && handler != nullptr && !finished) handler(SERVICE_CONTROL_INTERROGATE);
  }
  serviceThread.join();

  // Controls that came after the service ended are dropped rather than
  // acted on with their default action once unblocked.
  const struct timespec none = {0, 0};
  while (sigtimedwait(&controls, nullptr, &none) > 0) {
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  g_dispatching = false;
  return true;
}

SERVICE_STATUS_HANDLE RegisterServiceCtrlHandler(const std::string& /*serviceName*/,
                                                  HandlerFunction handler) {
  g_handler = handler;
  return &g_statusHandle;
}

bool SetServiceStatus(SERVICE_STATUS_HANDLE handle, const SERVICE_STATUS& status) {
  if (handle != &g_statusHandle) return false;
  const DWORD previous = g_lastState.exchange(status.dwCurrentState);
  if (previous != status.dwCurrentState) {
    OutputDebugString(std::string("(ARKServer) service state: ") + StateName(status.dwCurrentState) +
                      "\n");
  }
  if (status.dwCurrentState == SERVICE_RUNNING) NotifySystemd("READY=1");
  if (status.dwCurrentState == SERVICE_STOP_PENDING) NotifySystemd("STOPPING=1");
  return true;
}

DWORD LastReportedServiceState() { return g_lastState.load(); }

}  // namespace platform
