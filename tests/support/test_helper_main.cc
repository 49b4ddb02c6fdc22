// A program that tests start as another process:
//   sleep SECONDS           prints "sleeping" and waits (a stand-in for a server process)
//   root                    prints the host root it works under
//   service [late]          runs a service under the dispatcher, printing "main", "running",
//                           "control N" and "stopped" (late: registers its handler after a pause)
//   oplock NAME             prints "held" or "refused" for the operation lock, kept until input ends
//   freeze LETTER KIND      prints "locked" for the shared or exclusive volume lock, kept likewise
//   capture-unattached      captures a closed standard output: exit 0 when the text came through
//   profile FILE WHO N      writes WHO0..WHO<N-1>=v into section S of FILE
//   event-texts SOURCE      prints the texts of the categories 1-3 and of every event of the service
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/clock.h"
#include "platform/eventlog.h"
#include "platform/host.h"
#include "platform/oplock.h"
#include "platform/profile.h"
#include "platform/service.h"
#include "platform/stdout_capture.h"
#include "platform/volume_freeze.h"
#include "tests/support/os_calls.h"

namespace {

std::atomic<bool> g_stop{false};
bool g_late = false;
platform::SERVICE_STATUS_HANDLE g_handle = nullptr;

int Say(const char* text) {
  std::printf("%s\n", text);
  return std::fflush(stdout);
}

int WaitForEndOfInput() {
  while (std::getchar() != EOF) {
  }
  return 0;
}

void Handler(DWORD opcode) {
  Say(("control " + std::to_string(opcode)).c_str());
  if (opcode == platform::SERVICE_CONTROL_STOP) {
    platform::SERVICE_STATUS status;
    status.dwCurrentState = platform::SERVICE_STOP_PENDING;
    platform::SetServiceStatus(g_handle, status);
    g_stop = true;
  }
}

void ServiceMain(DWORD, char**) {
  Say("main");
  if (g_late) platform::Sleep(500);
  g_handle = platform::RegisterServiceCtrlHandler("ARKServer", Handler);
  platform::SERVICE_STATUS status;
  status.dwCurrentState = platform::SERVICE_RUNNING;
  platform::SetServiceStatus(g_handle, status);
  Say("running");
  while (!g_stop) platform::Sleep(10);
  status.dwCurrentState = platform::SERVICE_STOPPED;
  platform::SetServiceStatus(g_handle, status);
}

int PrintEventTexts(const std::string& source) {
  for (WORD category = 1; category <= 3; ++category) {
    std::printf("category %u: %s\n", unsigned(category), platform::EventCategoryText(source, category).c_str());
  }
  for (DWORD id : {0x40000065u, 0x40000066u, 0x4000006Cu, 0x4000006Du, 0x4000006Fu, 0x40000070u, 0x40000071u,
                   0x40000072u, 0x40000073u, 0x40000074u}) {
    const std::string text = platform::EventMessageText(source, id, {"%1", "%2", "%3", "%4"});
    std::printf("event 0x%08X: %s\n", unsigned(id), text.c_str());
  }
  return std::fflush(stdout);
}

int CaptureWithoutStandardOutput() {
  CloseStandardOutput();
  std::string got;
  platform::StdoutCapture capture;
  if (!capture.Start([&](std::string_view piece) { got += piece; })) return 1;
  std::printf("text");
  if (!capture.Stop()) return 2;
  return got == "text" ? 0 : 3;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc >= 2 ? argv[1] : "";
  if (command == "sleep" && argc >= 3) {
    Say("sleeping");
    platform::Sleep(static_cast<DWORD>(std::atoi(argv[2])) * 1000);
    return 0;
  }
  if (command == "root") return Say(platform::HostRoot().c_str());
  if (command == "service") {
    g_late = argc >= 3 && std::strcmp(argv[2], "late") == 0;
    DWORD error = 0;
    if (!platform::StartServiceCtrlDispatcher("ARKServer", ServiceMain, &error)) return 2;
    return Say("stopped");
  }
  if (command == "oplock" && argc >= 3) {
    platform::OperationLockHandle lock;
    Say(lock.Acquire(argv[2]) ? "held" : "refused");
    return WaitForEndOfInput();
  }
  if (command == "freeze" && argc >= 4) {
    platform::VolumeLock lock;
    const auto kind = std::strcmp(argv[3], "exclusive") == 0 ? platform::VolumeLock::Kind::ExclusiveFreeze
                                                              : platform::VolumeLock::Kind::SharedWrite;
    Say(lock.Lock(argv[2][0], kind) ? "locked" : "failed");
    return WaitForEndOfInput();
  }
  if (command == "capture-unattached") return CaptureWithoutStandardOutput();
  if (command == "event-texts" && argc >= 3) return PrintEventTexts(argv[2]);
  if (command == "profile" && argc >= 5) {
    for (int i = 0; i < std::atoi(argv[4]); ++i) {
      if (!platform::WritePrivateProfileString("S", argv[3] + std::to_string(i), "v", argv[2])) return 2;
    }
    return 0;
  }
  return 1;
}
