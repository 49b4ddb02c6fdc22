// A real arkserver child process; and, for the whole-host tests of
// tests/faults and tests/scenario until they move, the running of
// command-line tools with their output in files.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/net/loopback.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_host.h"

extern char** environ;

namespace servicetest {

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteFile(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// Starts a program (found through PATH unless the name holds a slash) with
// its standard output and error going to files.
inline pid_t Spawn(const std::vector<std::string>& args, const std::string& outPath, const std::string& errPath) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Waits for the process to end; its exit code, or -1 when it still runs
// after timeoutMs.
inline int WaitExit(pid_t pid, long timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int status = 0;
    pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (r < 0 || std::chrono::steady_clock::now() > deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

struct ToolResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

inline ToolResult RunTool(const std::vector<std::string>& args, const std::string& scratchDir) {
  ToolResult result;
  std::string out = scratchDir + "/tool.out", err = scratchDir + "/tool.err";
  pid_t pid = Spawn(args, out, err);
  if (pid < 0) return result;
  // Generous: a backup on a loaded machine may archive hundreds of logs,
  // each flushed to the disk; only a hung tool should reach this.
  result.exitCode = WaitExit(pid, 300000);
  result.out = ReadFile(out);
  result.err = ReadFile(err);
  return result;
}

// A real arkserver child process on a free loopback port, with a fresh host
// whose report folder is C:\Reports (DIR/Reports); its output (standard
// output and error) is read as the test needs it.
class ServerProcess {
 public:
  ServerProcess() : host_(ReportFolder()) {}

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

}  // namespace servicetest
