// A real arkserver as a child process of the test.
#pragma once

#include <signal.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_host.h"

// A real arkserver child process on a free loopback port, with a fresh host
// whose report folder is C:\Reports (DIR/Reports); its output (standard
// output and error) is read as the test needs it.
class ArkServer {
 public:
  ArkServer() : host_(ReportFolder()) {}

  std::string root() const { return host_.path().string(); }
  const std::string& output() const { return output_; }
  std::uint16_t port() const { return port_; }
  int exitCode() const { return exitCode_; }

  // Starts arkserver and reads its output up to "listening on port N";
  // false when it ended first (its exit code in exitCode()).
  bool Start(int ioTimeoutSeconds = 45, std::uint16_t port = 0) {
    child_ = std::make_unique<ChildProcess>(
        ProgramBesideTest("arkserver"), std::vector<std::string>{"--root", root(), "--port", std::to_string(port),
                                                                 "--io-timeout", std::to_string(ioTimeoutSeconds)});
    const std::string listening = "arkserver: listening on port ";
    for (std::string line = "-"; !line.empty();) {
      line = child_->ReadLine(30000);
      output_ += line + "\n";
      if (line.rfind(listening, 0) == 0) return port_ = std::uint16_t(std::stoi(line.substr(listening.size()))), true;
    }
    WaitForExit();
    return false;
  }
  // Reads the output until it holds text (or ends); the output so far.
  const std::string& ReadUntil(const std::string& text) {
    for (std::string line = "-"; !line.empty() && output_.find(text) == std::string::npos;) {
      line = child_->ReadLine(30000);
      output_ += line + "\n";
    }
    return output_;
  }
  // The stop control (SIGTERM); WaitForExit reads the output to its end.
  void SendStop() { ::kill(child_->id(), SIGTERM); }
  int WaitForExit() {
    output_ += child_->ReadAll();
    return exitCode_ = child_->Wait();
  }

  // A client connection; arkserver says it listens just before its first
  // turn listens, so a refused connection is tried again.
  platform::Socket Connect() const {
    std::string error;
    for (int i = 0; i < 1000; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
      if (platform::Socket s = platform::ConnectTcp("127.0.0.1", port_, &error); s.valid()) return s;
    }
    ADD_FAILURE() << error;
    return {};
  }

 private:
  static HostOptions ReportFolder() {
    HostOptions options;
    options.reportFolder = "C:\\Reports";
    return options;
  }
  TempHostRoot host_;
  std::unique_ptr<ChildProcess> child_;
  std::string output_;
  std::uint16_t port_ = 0;
  int exitCode_ = -1;
};
