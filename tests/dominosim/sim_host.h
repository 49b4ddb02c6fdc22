// A host built by the simulator's installer in a fresh temporary root, the
// runtime started on one of its servers, and nserver run beside it.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "dominosim/digest.h"
#include "dominosim/install.h"
#include "dominosim/server_config.h"
#include "dominosim/sim_api.h"
#include "dominosim/status.h"
#include "tests/support/child_process.h"
#include "tests/support/sim_log.h"
#include "tests/support/temp_host.h"

namespace simtest {

// Without the snapshot component; a failed installation fails the test,
// and server() then throws.
class SimHost {
 public:
  explicit SimHost(dominosim::InstallOptions options = {}) {
    options.root = (temp_.path() / "host").string();
    options.backend = "none";
    std::string error;
    EXPECT_TRUE(dominosim::InstallHost(options, result_, &error)) << error;
  }
  const std::string& root() const { return result_.root; }
  const dominosim::InstalledServer& server(int i = 0) const { return result_.servers.at(i); }
  std::string Host(const std::string& winPath) const {
    std::string host;
    dominosim::MapPath(winPath, host);
    return host;
  }
  dominosim::ServerConfig Config() const {
    dominosim::ServerConfig config;
    dominosim::LoadServerConfig(server().notesIni, config);
    return config;
  }

 private:
  TempHostRoot temp_;
  dominosim::InstallResult result_;
};

// The runtime started on a notes.ini as the engine starts it ("=path").
struct Runtime {
  dominosim::SimApi api;
  STATUS status;
  explicit Runtime(const std::string& ini) {
    std::string arg = "=" + ini;
    char* argv[] = {nullptr, arg.data()};
    status = api.InitRuntime(2, argv);
  }
  ~Runtime() { api.TermRuntime(); }
};

// Waits (up to 20 s) until the condition on the log holds; true when it did.
template <typename Condition>
bool WaitForLog(const std::string& logDirHost, Condition condition) {
  for (int i = 0; i < 2000 && !condition(ReadLog(logDirHost)); ++i) ::usleep(10000);
  return condition(ReadLog(logDirHost));
}

// Waits until the server has logged `records` more records than now.
inline bool WaitForRecords(const std::string& logDirHost, std::uint64_t records) {
  std::uint64_t from = ReadLog(logDirHost).nextLsn;
  return WaitForLog(logDirHost, [&](const dominosim::LogControl& c) { return c.nextLsn >= from + records; });
}

// nserver writing as fast as it can on the host's server until the condition
// on its log holds and `records` more were logged; then stopped cleanly.
template <typename Condition>
void RunServer(const SimHost& host, const std::string& seed, Condition until, std::uint64_t records) {
  ChildProcess server(ProgramBesideTest("nserver"),
                      {"--root", host.root(), "--ini", host.server().notesIni, "--rate", "0", "--seed", seed});
  const std::string logDirHost = host.Config().logDirHost;
  ASSERT_TRUE(WaitForLog(logDirHost, until));
  ASSERT_TRUE(WaitForRecords(logDirHost, records));
  if (server.id() > 0) ::kill(server.id(), SIGTERM);
  server.ReadAll(20000);
  EXPECT_EQ(server.Wait(), 0);
}

inline std::string Digest(const dominosim::ServerConfig& config, const std::string& hostPath) {
  std::string hex;
  STATUS s = dominosim::DigestDatabase(hostPath, config.stateDirHost, &hex);
  return s == 0 ? hex : "status " + std::to_string(s);
}

}  // namespace simtest
