// Test helper, started by the platform tests as a separate process.
//   helper sleep SECONDS   : prints "sleeping" and waits (a stand-in for a
//                            named server process)
//   helper root            : prints the host root it works under
//   helper service [late]  : runs a service under the dispatcher and prints
//                            "main", "control N" and "stopped" lines; late
//                            registers the handler only after a pause.
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/host.h"
#include "platform/service.h"

namespace {

std::atomic<bool> g_stop{false};
bool g_late = false;
platform::SERVICE_STATUS_HANDLE g_handle = nullptr;

void Say(const char* text) {
  std::printf("%s\n", text);
  std::fflush(stdout);
}

void Handler(DWORD opcode) {
  char line[32];
  std::snprintf(line, sizeof line, "control %u", static_cast<unsigned>(opcode));
  Say(line);
  if (opcode == platform::SERVICE_CONTROL_STOP) {
    platform::SERVICE_STATUS status;
    status.dwCurrentState = platform::SERVICE_STOP_PENDING;
    platform::SetServiceStatus(g_handle, status);
    g_stop = true;
  }
}

void ServiceMain(DWORD, char**) {
  Say("main");
  if (g_late) ::usleep(500'000);
  g_handle = platform::RegisterServiceCtrlHandler("ARKServer", Handler);
  platform::SERVICE_STATUS status;
  status.dwCurrentState = platform::SERVICE_RUNNING;
  platform::SetServiceStatus(g_handle, status);
  Say("running");
  while (!g_stop) ::usleep(10'000);
  status.dwCurrentState = platform::SERVICE_STOPPED;
  platform::SetServiceStatus(g_handle, status);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "sleep") == 0) {
    Say("sleeping");  // started: its command line and environment are in place
    ::sleep(static_cast<unsigned>(std::atoi(argv[2])));
    return 0;
  }
  if (argc >= 2 && std::strcmp(argv[1], "root") == 0) {
    Say(platform::HostRoot().c_str());
    return 0;
  }
  if (argc >= 2 && std::strcmp(argv[1], "service") == 0) {
    g_late = argc >= 3 && std::strcmp(argv[2], "late") == 0;
    DWORD error = 0;
    if (!platform::StartServiceCtrlDispatcher("ARKServer", ServiceMain, &error)) return 2;
    Say("stopped");
    return 0;
  }
  return 1;
}
