// nserver: the simulated Domino server process. Runs the workload of one
// server until asked to stop (SIGTERM or SIGINT; on Windows Ctrl+C or
// `dominosim stop-server`); while it runs, "Domino is running".
#include <CLI/CLI.hpp>
#include <atomic>
#include <cstdio>

#include "dominosim/server_config.h"
#include "dominosim/status.h"
#include "dominosim/workload.h"
#include "platform/host.h"
#include "platform/kit/file_io.h"
#include "platform/kit/process.h"
#include "platform/process.h"

namespace {

std::atomic<bool> g_stop{false};

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Simulated Domino server"};
  std::string root, ini;
  dominosim::WorkloadOptions options;
  app.add_option("--root", root, "host root directory (default ARK_ROOT; none on Windows)");
  app.add_option("--ini", ini, "Windows path of the server's notes.ini")->required();
  app.add_option("--seed", options.seed, "seed of the workload");
  app.add_option("--rate", options.rate, "transactions per second (0: unthrottled)");
  app.add_option("--duration", options.durationSeconds, "seconds to run (0: until SIGTERM)");
  app.add_option("--transactions", options.maxTransactions, "stop after this many transactions");
  CLI11_PARSE(app, argc, argv);

  if (!root.empty()) platform::SetHostRoot(root);
  // The server holds every database open, as a server with thousands does.
  platform::RaiseOpenFileLimit(nullptr);
  dominosim::ServerConfig config;
  if (STATUS s = dominosim::LoadServerConfig(ini, config)) {
    std::fprintf(stderr, "nserver: %s: %s\n", ini.c_str(), dominosim::StatusText(s).c_str());
    return 2;
  }
  platform::kit::MakeDirectories(config.stateDirHost);
  const std::string stopFile = dominosim::StopFilePath(config);
  platform::kit::RemoveFile(stopFile);  // a request meant for an earlier run
  platform::kit::StopWatch watch(g_stop, stopFile);
  std::string pidFile = config.stateDirHost + "/nserver.pid";
  const int pid = platform::kit::CurrentProcessId();
  platform::kit::WriteFileAtomically(pidFile, std::to_string(pid) + "\n", false);
  std::fprintf(stderr, "nserver: %s running (pid %d)\n", config.serverName.c_str(), pid);

  dominosim::WorkloadStats stats;
  STATUS status = dominosim::RunWorkload(config, options, g_stop, stats, stderr);
  platform::kit::RemoveFile(pidFile);
  platform::kit::RemoveFile(stopFile);
  std::fprintf(stderr, "nserver: stopped: %llu transactions, %llu pages on %u databases, %llu errors\n",
               static_cast<unsigned long long>(stats.transactions),
               static_cast<unsigned long long>(stats.pages), stats.databases,
               static_cast<unsigned long long>(stats.errors));
  return status == 0 ? 0 : 1;
}
