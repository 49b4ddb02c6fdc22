// The dispatcher of the POSIX layer: signals become controls, systemd hears
// of the state.
#include "platform/service.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "platform/posix/kit/unique_fd.h"
#include "tests/support/child_process.h"

namespace platform {
namespace {

TEST(ServiceDispatcherPosix, SignalsBecomeControlsAndSystemdHearsOfIt) {
  // A datagram socket standing in for systemd's notification socket.
  const posix::UniqueFd notify(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
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
}

TEST(ServiceDispatcherPosix, StopBeforeTheHandlerExistsIsNotLost) {
  // The service registers its handler only half a second after it started.
  ChildProcess service(ProgramBesideTest("test_helper"), {"service", "late"});
  ASSERT_EQ(service.ReadLine(), "main");
  ::kill(service.id(), SIGINT);
  EXPECT_EQ(service.ReadLine(), "running");
  EXPECT_EQ(service.ReadLine(), "control 1");
  EXPECT_EQ(service.ReadLine(), "stopped");
  EXPECT_EQ(service.Wait(), 0);
}

}  // namespace
}  // namespace platform
