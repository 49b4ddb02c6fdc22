#include "platform/kit/process.h"

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>

namespace platform::kit {
namespace {

std::atomic<bool>* g_stop = nullptr;

void OnStopSignal(int) {
  if (g_stop != nullptr) g_stop->store(true);
}

}  // namespace

int CurrentProcessId() { return int(::getpid()); }

unsigned long long OpenDescriptorLimit() {
  struct rlimit limit = {};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  return static_cast<unsigned long long>(limit.rlim_cur);
}

StandardOutput::StandardOutput() : stream_(stdout) {}

StandardOutput::~StandardOutput() { std::fflush(stream_); }

bool ProcessAlive(int pid) { return pid > 0 && (::kill(pid, 0) == 0 || errno != ESRCH); }

struct StopWatch::Impl {};

StopWatch::StopWatch(std::atomic<bool>& stop, const std::string&) {
  g_stop = &stop;
  struct sigaction action = {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
}

StopWatch::~StopWatch() = default;

int RequestStop(int pid, const std::string&) { return ::kill(pid, SIGTERM) == 0 ? 0 : errno; }

std::string ExecutableDirectory() {
  char self[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return ".";
  const std::string path(self, std::size_t(n));
  return path.substr(0, path.rfind('/'));
}

int RunSiblingProgram(const std::string& name, const std::vector<std::string>& args) {
  const std::string path = ExecutableDirectory() + "/" + name;
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(name.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  ::execv(path.c_str(), argv.data());
  std::perror(path.c_str());
  return -1;
}

}  // namespace platform::kit
