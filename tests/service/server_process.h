// A real arkserver child process on a free loopback port with a host root
// of its own, and the running of command-line tools.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/net/loopback.h"

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

class ServerProcess {
 public:
  // A host root whose report folder is C:\Reports (DIR/Reports).
  ServerProcess() {
    WriteFile(root() + "/registry.reg",
              "Windows Registry Editor Version 5.00\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Arkhold for Domino 1.0\\Client]\r\n"
              "\"ReportFolder\"=\"C:\\\\Reports\"\r\n\r\n");
    std::filesystem::create_directories(root() + "/Reports");
  }
  ~ServerProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      WaitExit(pid_, 10000);
    }
  }
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  const std::string& root() const { return dir_.path(); }
  std::string stdoutText() const { return ReadFile(root() + "/arkserver.out"); }
  std::string stderrText() const { return ReadFile(root() + "/arkserver.err"); }
  std::uint16_t port() const { return port_; }

  // Starts arkserver and waits until it listens; false when it ended first.
  // A launcher runs it (for example {"prlimit", "--nofile=1024:"}, which
  // execs it with other limits).
  bool Start(int ioTimeoutSeconds = 45, std::uint16_t port = 0, std::vector<std::string> launcher = {}) {
    launcher.insert(launcher.end(), {ARKSERVER_PATH, "--root", root(), "--port", std::to_string(port),
                                     "--io-timeout", std::to_string(ioTimeoutSeconds)});
    pid_ = Spawn(launcher, root() + "/arkserver.out", root() + "/arkserver.err");
    if (pid_ < 0) return false;
    for (int i = 0; i < 3000; ++i) {
      std::string out = stdoutText();
      std::size_t at = out.find("listening on port ");
      if (at != std::string::npos && out.find('\n', at) != std::string::npos) {
        port_ = static_cast<std::uint16_t>(std::stoi(out.substr(at + 18)));
        return true;
      }
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        pid_ = -1;
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  // Sends the stop control (SIGTERM); the exit code, or -1 while it runs on.
  void SendStop() { ::kill(pid_, SIGTERM); }
  int WaitForExit(long timeoutMs) {
    int code = WaitExit(pid_, timeoutMs);
    if (code >= 0) {
      pid_ = -1;
      exitCode_ = code;
    }
    return code;
  }
  int exitCode() const { return exitCode_; }

  platform::Socket Connect() const { return nettest::Connect(port_); }

 private:
  nettest::TempDir dir_;
  pid_t pid_ = -1;
  int exitCode_ = -1;
  std::uint16_t port_ = 0;
};

}  // namespace servicetest
