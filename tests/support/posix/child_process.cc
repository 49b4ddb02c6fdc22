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
};

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::vector<std::string>& extraEnv, const std::string& cwd)
    : state_(std::make_unique<State>()) {
  int out[2] = {-1, -1}, in[2] = {-1, -1};
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(in, O_CLOEXEC) != 0) {
    for (int fd : out) ::close(fd);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  auto pointers = [](std::vector<std::string>& store) {
    std::vector<char*> list;
    for (std::string& s : store) list.push_back(s.data());
    return list.push_back(nullptr), list;
  };
  std::vector<std::string> argStore = {program};
  argStore.insert(argStore.end(), args.begin(), args.end());
  // The first definition counts: the extra entries, then this process's
  // host root (a child belongs to the same host unless told otherwise).
  std::vector<std::string> envStore(extraEnv);
  envStore.push_back("ARK_ROOT=" + platform::HostRoot());
  for (char** e = environ; *e != nullptr; ++e) envStore.emplace_back(*e);
  std::vector<char*> argv = pointers(argStore), envp = pointers(envStore);
  if (::posix_spawn(&state_->pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) state_->pid = -1;
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

int ChildProcess::id() const { return state_->pid; }

bool ChildProcess::Fill(int timeoutMs) {
  struct pollfd p = {state_->out, POLLIN, 0};
  char chunk[4096];
  const ssize_t n = ::poll(&p, 1, timeoutMs) > 0 ? ::read(state_->out, chunk, sizeof chunk) : 0;
  if (n > 0) buffer_.append(chunk, static_cast<std::size_t>(n));
  return n > 0;
}

void ChildProcess::CloseInput() {
  if (state_->in >= 0) ::close(std::exchange(state_->in, -1));
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
