// The service surfaces of the POSIX layer: signals become controls, systemd
// hears of the state, and the event log is one line per event in
// DIR/Logs/Application.log.
#include "platform/service.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <sstream>

#include "platform/eventlog.h"
#include "platform/host.h"
#include "platform/kit/unique_fd.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_host.h"

namespace platform {
namespace {

TEST(ServiceDispatcherPosix, SignalsBecomeControlsEvenBeforeTheHandlerAndSystemdHearsOfIt) {
  // A datagram socket standing in for systemd's notification socket.
  const kit::UniqueFd notify(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  ASSERT_GE(notify.get(), 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string name = "ark-notify-" + std::to_string(::getpid());
  std::memcpy(address.sun_path + 1, name.data(), name.size());  // abstract
  ASSERT_EQ(::bind(notify.get(), reinterpret_cast<sockaddr*>(&address),
                   static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size())),
            0);
  const auto notified = [&] {
    char message[64] = {};
    EXPECT_GT(::recv(notify.get(), message, sizeof message - 1, 0), 0);
    return std::string(message);
  };

  ChildProcess service(ProgramBesideTest("test_helper"), {"service"}, {"NOTIFY_SOCKET=@" + name});
  EXPECT_EQ(service.ReadLine(), "main");
  EXPECT_EQ(service.ReadLine(), "running");
  EXPECT_EQ(notified(), "READY=1");
  ::kill(service.id(), SIGUSR1);
  EXPECT_EQ(service.ReadLine(), "control 4");
  ::kill(service.id(), SIGTERM);
  EXPECT_EQ(service.ReadLine(), "control 1");
  EXPECT_EQ(notified(), "STOPPING=1");
  EXPECT_EQ(service.ReadLine(), "stopped");
  EXPECT_EQ(service.Wait(), 0);

  // A stop before the handler exists (it comes half a second late) is not lost.
  ChildProcess late(ProgramBesideTest("test_helper"), {"service", "late"});
  ASSERT_EQ(late.ReadLine(), "main");
  ::kill(late.id(), SIGINT);
  for (const char* line : {"running", "control 1", "stopped"}) EXPECT_EQ(late.ReadLine(), line);
  EXPECT_EQ(late.Wait(), 0);
}

TEST(EventLogPosix, OneLinePerEventWithItsText) {
  TempHostRoot root;
  EXPECT_TRUE(ReportEvent("arksvc", EVENTLOG_INFORMATION_TYPE, 3, 0x40000065, {}));
  EXPECT_TRUE(ReportEvent("arksvc", EVENTLOG_ERROR_TYPE, 2, 0x4000006D,
                          {"POINT IN TIME", "snap", "srv1", "ERROR: first\r\nsecond\r\n"}));
  std::istringstream log(ReadHostFile(root.path() / "Logs" / "Application.log"));
  std::vector<std::string> lines;
  for (std::string line; std::getline(log, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(lines[0].ends_with(
      " Information category 3 event 0x40000065 arksvc: The ARKServer service started."));
  EXPECT_TRUE(lines[1].ends_with(
      " Error category 2 event 0x4000006D arksvc: The POINT IN TIME restore of snapshot snap for the "
      "Domino server srv1 failed: ERROR: first | second"));
  // A host root that cannot hold the log: the event is reported as not written.
  SetHostRoot((root.path() / "missing" / "root").string());
  EXPECT_FALSE(ReportEvent("arksvc", EVENTLOG_INFORMATION_TYPE, 3, 0x40000066, {}));
}

}  // namespace
}  // namespace platform
