#include "bench/compare/timed_command.h"

#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
extern char** environ;

namespace ark {

namespace {

// Both ends of a pipe, closed when it goes.
struct Pipe {
  int fds[2] = {-1, -1};
  Pipe() {
    if (::pipe(fds) != 0) fds[0] = fds[1] = -1;
  }
  ~Pipe() {
    CloseRead();
    CloseWrite();
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  void CloseRead() {
    if (fds[0] >= 0) ::close(fds[0]);
    fds[0] = -1;
  }
  void CloseWrite() {
    if (fds[1] >= 0) ::close(fds[1]);
    fds[1] = -1;
  }
};

struct SpawnActions {
  posix_spawn_file_actions_t actions;
  SpawnActions() { posix_spawn_file_actions_init(&actions); }
  ~SpawnActions() { posix_spawn_file_actions_destroy(&actions); }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
};

}  // namespace

double TimedRun::FirstSeen(const std::string& text) const {
  std::string sofar;
  for (const OutputPiece& piece : pieces) {
    sofar += piece.text;
    if (sofar.find(text) != std::string::npos) return piece.at;
  }
  return -1;
}

TimedRun RunTimed(const std::string& command) {
  TimedRun run;
  Pipe out;
  if (out.fds[0] < 0) return run;
  SpawnActions spawn;
  posix_spawn_file_actions_adddup2(&spawn.actions, out.fds[1], 1);
  posix_spawn_file_actions_adddup2(&spawn.actions, out.fds[1], 2);
  posix_spawn_file_actions_addclose(&spawn.actions, out.fds[0]);
  posix_spawn_file_actions_addclose(&spawn.actions, out.fds[1]);
  const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = -1;
  if (::posix_spawn(&pid, "/bin/sh", &spawn.actions, nullptr, const_cast<char* const*>(argv), environ) != 0) {
    return run;
  }
  out.CloseWrite();
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(out.fds[0], buffer, sizeof buffer);
    if (n <= 0) break;
    const std::chrono::duration<double> at = std::chrono::steady_clock::now() - start;
    run.pieces.push_back({at.count(), std::string(buffer, std::size_t(n))});
    run.output.append(buffer, std::size_t(n));
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  run.seconds = took.count();
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

int Shell(const std::string& command) { return RunTimed(command).exitCode; }

std::string Capture(const std::string& command) {
  std::string text = RunTimed(command).output;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

std::string Num(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

void Say(const std::string& text) {
  std::printf("%s\n", text.c_str());
  std::fflush(stdout);
}

}  // namespace ark
