// nserver: the simulated Domino server process. Runs the workload of one
// server until SIGTERM or SIGINT; while it runs, "Domino is running".
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <cstdio>

#include "dominosim/server_config.h"
#include "dominosim/status.h"
#include "dominosim/workload.h"
#include "platform/host.h"
#include "platform/posix/kit/file_io.h"

namespace {

std::atomic<bool> g_stop{false};

void OnStopSignal(int) { g_stop.store(true); }

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Simulated Domino server"};
  std::string root, ini;
  dominosim::WorkloadOptions options;
  app.add_option("--root", root, "host root directory")->required();
  app.add_option("--ini", ini, "Windows path of the server's notes.ini")->required();
  app.add_option("--seed", options.seed, "seed of the workload");
  app.add_option("--rate", options.rate, "transactions per second (0: unthrottled)");
  app.add_option("--duration", options.durationSeconds, "seconds to run (0: until SIGTERM)");
  app.add_option("--transactions", options.maxTransactions, "stop after this many transactions");
  CLI11_PARSE(app, argc, argv);

  platform::SetHostRoot(root);
  dominosim::ServerConfig config;
  if (STATUS s = dominosim::LoadServerConfig(ini, config)) {
    std::fprintf(stderr, "nserver: %s: %s\n", ini.c_str(), dominosim::StatusText(s).c_str());
    return 2;
  }
  struct sigaction action = {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);

  platform::posix::MakeDirectories(config.stateDirHost);
  std::string pidFile = config.stateDirHost + "/nserver.pid";
  std::string pid = std::to_string(::getpid()) + "\n";
  platform::posix::WriteFileAtomically(pidFile, pid, false);
  std::fprintf(stderr, "nserver: %s running (pid %d)\n", config.serverName.c_str(), int(::getpid()));

  dominosim::WorkloadStats stats;
  STATUS status = dominosim::RunWorkload(config, options, g_stop, stats, stderr);
  ::unlink(pidFile.c_str());
  std::fprintf(stderr, "nserver: stopped: %llu transactions, %llu pages on %u databases, %llu errors\n",
               static_cast<unsigned long long>(stats.transactions),
               static_cast<unsigned long long>(stats.pages), stats.databases,
               static_cast<unsigned long long>(stats.errors));
  return status == 0 ? 0 : 1;
}
