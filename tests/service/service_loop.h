// The service loop in this process: a listener on a free loopback port whose
// clients are served one at a time on a thread, by the built-in handlers and
// those the test registered (net/command.h).
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "net/listener.h"
#include "net/session.h"

class ServiceLoop {
 public:
  ServiceLoop() : listener_(CreateListener(0)), port_(platform::LocalPort(listener_.get())) {
    // Listening before the thread starts: a client never finds the port closed.
    EXPECT_EQ(platform::Listen(listener_.get(), kListenBacklog), 0);
    thread_ = std::thread([this] {
      while (!stop_) ServeOneConnection(listener_.get(), 50);
    });
  }
  ~ServiceLoop() { Stop(); }
  ServiceLoop(const ServiceLoop&) = delete;
  ServiceLoop& operator=(const ServiceLoop&) = delete;

  std::uint16_t port() const { return port_; }
  // Ends the loop after the current client and closes the port.
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    listener_.reset();
  }

 private:
  platform::Socket listener_;
  std::uint16_t port_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};
