#include "tests/support/child_process.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/host.h"

extern char** environ;

struct ChildProcess::State {
  pid_t pid = -1;
  int out = -1;
  int in = -1;
  std::string buffer;
};

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::vector<std::string>& extraEnv, const std::string& cwd)
    : state_(std::make_unique<State>()) {
  int out[2], in[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return;
  if (::pipe2(in, O_CLOEXEC) != 0) {
    ::close(out[0]);
    ::close(out[1]);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  std::vector<std::string> argStore = {program};
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);
  // The first definition counts: the extra entries, then this process's
  // host root (a child belongs to the same host unless told otherwise).
  std::vector<std::string> envStore(extraEnv);
  envStore.push_back("ARK_ROOT=" + platform::HostRoot());
  for (char** e = environ; *e != nullptr; ++e) envStore.emplace_back(*e);
  std::vector<char*> envp;
  for (std::string& e : envStore) envp.push_back(e.data());
  envp.push_back(nullptr);
  if (::posix_spawn(&state_->pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) {
    state_->pid = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  ::close(in[0]);
  state_->out = out[0];
  state_->in = in[1];
}

ChildProcess::~ChildProcess() {
  Kill();
  Wait();
  if (state_->out >= 0) ::close(state_->out);
  CloseInput();
}

bool ChildProcess::started() const { return state_->pid > 0; }

int ChildProcess::id() const { return state_->pid; }

std::string ChildProcess::ReadLine(int timeoutMs) {
  std::string& buffer = state_->buffer;
  while (true) {
    const auto nl = buffer.find('\n');
    if (nl != std::string::npos) {
      std::string line = buffer.substr(0, nl);
      buffer.erase(0, nl + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return line;
    }
    struct pollfd p = {state_->out, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return "";
    char chunk[256];
    const ssize_t n = ::read(state_->out, chunk, sizeof chunk);
    if (n <= 0) return "";
    buffer.append(chunk, static_cast<std::size_t>(n));
  }
}

void ChildProcess::CloseInput() {
  if (state_->in >= 0) ::close(state_->in);
  state_->in = -1;
}

void ChildProcess::Kill() {
  if (state_->pid > 0) ::kill(state_->pid, SIGKILL);
}

int ChildProcess::Wait() {
  int status = 0;
  if (state_->pid <= 0 || ::waitpid(state_->pid, &status, 0) != state_->pid) return -1;
  state_->pid = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ProgramBesideTest(const std::string& name) {
  char exe[PATH_MAX] = {};
  const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  const std::string self(exe, n > 0 ? static_cast<std::size_t>(n) : 0);
  return self.substr(0, self.rfind('/') + 1) + name;
}
