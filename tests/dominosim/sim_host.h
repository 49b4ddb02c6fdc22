// A simulated host in a fresh temporary root for one test, and helpers to
// run nserver beside it.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "dominosim/digest.h"
#include "dominosim/install.h"
#include "dominosim/server_config.h"
#include "dominosim/txn_log.h"
#include "platform/host.h"

extern char** environ;

namespace simtest {

inline std::string MakeTempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "dominosim-test-XXXXXX").string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (::mkdtemp(buffer.data()) == nullptr) return "";
  return buffer.data();
}

class TempHost {
 public:
  // The snapshot component is left out unless keepBackend is set.
  explicit TempHost(dominosim::InstallOptions options = {}, bool keepBackend = false) {
    root_ = MakeTempDir();
    options.root = root_ + "/host";
    if (!keepBackend) options.backend = "none";
    options_ = options;
    ok_ = dominosim::InstallHost(options_, result_, &error_);
  }
  ~TempHost() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  TempHost(const TempHost&) = delete;
  TempHost& operator=(const TempHost&) = delete;

  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }
  const std::string& root() const { return result_.root; }
  const dominosim::InstallResult& result() const { return result_; }
  const dominosim::InstalledServer& server(int i = 0) const { return result_.servers[i]; }
  std::string Host(const std::string& winPath) const {
    std::string host;
    dominosim::MapPath(winPath, host);
    return host;
  }
  dominosim::ServerConfig Config(int i = 0) const {
    dominosim::ServerConfig config;
    dominosim::LoadServerConfig(server(i).notesIni, config);
    return config;
  }

 private:
  std::string root_;
  dominosim::InstallOptions options_;
  dominosim::InstallResult result_;
  std::string error_;
  bool ok_ = false;
};

// An nserver child process; stopped with SIGTERM when the object goes.
class ServerProcess {
 public:
  ServerProcess(const std::string& root, const std::string& ini, const std::string& rate = "0",
                const std::string& seed = "7") {
    std::vector<std::string> args = {NSERVER_PATH, "--root", root, "--ini", ini, "--rate", rate, "--seed", seed};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (::posix_spawn(&pid_, NSERVER_PATH, nullptr, nullptr, argv.data(), environ) != 0) pid_ = -1;
  }
  ~ServerProcess() { Stop(); }
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;
  bool running() const { return pid_ > 0; }
  // SIGTERM and wait; the exit status (-1 when not running).
  int Stop() {
    if (pid_ <= 0) return -1;
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  pid_t pid_ = -1;
};

inline void SleepMs(int ms) { ::usleep(useconds_t(ms) * 1000); }

// The log's control as it is now (zeros when it cannot be read).
inline dominosim::LogControl ReadLog(const std::string& logDirHost) {
  dominosim::LogOptions options;
  options.dir = logDirHost;
  options.create = false;
  std::unique_ptr<dominosim::TxnLog> log;
  dominosim::LogControl control;
  control.nextLsn = 0;
  control.currentExtent = 0;
  if (dominosim::TxnLog::Open(options, log) == 0) log->ReadControl(control);
  return control;
}

// Waits (up to 20 s) until the condition on the log holds; true when it did.
template <typename Condition>
bool WaitForLog(const std::string& logDirHost, Condition condition) {
  for (int i = 0; i < 2000; ++i) {
    if (condition(ReadLog(logDirHost))) return true;
    SleepMs(10);
  }
  return false;
}

// Waits until the server has logged `records` more records than now.
inline bool WaitForRecords(const std::string& logDirHost, std::uint64_t records) {
  std::uint64_t from = ReadLog(logDirHost).nextLsn;
  return WaitForLog(logDirHost, [&](const dominosim::LogControl& c) { return c.nextLsn >= from + records; });
}

inline std::string Digest(const dominosim::ServerConfig& config, const std::string& hostPath) {
  std::string hex;
  STATUS s = dominosim::DigestDatabase(hostPath, config.stateDirHost, &hex);
  return s == 0 ? hex : "status " + std::to_string(s);
}

}  // namespace simtest
