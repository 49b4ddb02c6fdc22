#include "bench/compare/background.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>
extern char** environ;

namespace ark {

Background::Background(const std::vector<std::string>& args, const std::string& logPath) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
}

Background& Background::operator=(Background&& other) noexcept {
  if (this != &other) {
    Stop();
    pid_ = other.pid_;
    other.pid_ = -1;
  }
  return *this;
}

void Background::Stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  for (int i = 0; i < 400; ++i) {
    if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

ArkService StartArkService(const std::string& binDir, const std::string& root, const std::string& logPath) {
  ArkService service;
  service.process = Background({binDir + "/arkserver", "--root", root, "--port", "0"}, logPath);
  for (int i = 0; i < 1000 && service.process.running(); ++i) {
    std::ifstream log(logPath);
    std::stringstream text;
    text << log.rdbuf();
    const std::string out = text.str();
    const std::size_t at = out.find("listening on port ");
    if (at != std::string::npos && out.find('\n', at) != std::string::npos) {
      service.port = std::stoi(out.substr(at + 18));
      return service;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return service;
}

}  // namespace ark
