// dominosim: builds simulated hosts and checks them.
//   dominosim install --root DIR [options]   a complete simulated host
//   dominosim install [options]              (Windows) on the machine's drives (--drives DEL)
//   dominosim digest --root DIR --ini PATH [--content]   one digest per database
//   dominosim server --root DIR --ini PATH   runs nserver (same options)
//   dominosim status | stop-server --root DIR --ini PATH
#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>
#include <vector>

#include "dominosim/install.h"
#include "dominosim/tool_commands.h"
#include "platform/host.h"
#include "platform/kit/process.h"

int main(int argc, char** argv) {
  CLI::App app{"Simulated Domino hosts: install, run, check"};
  app.require_subcommand(1);

  dominosim::InstallOptions install;
  CLI::App* installCmd = app.add_subcommand("install", "build a simulated host under a root");
  installCmd->add_option("--root", install.root,
                         "host root directory of a simulated host (none: the drives D:, E:, L: exist)");
  installCmd->add_option("--snapshot-store", install.snapshotStore,
                         "where the snapshot component keeps snapshots (a folder on a drive of its own)");
  installCmd->add_option("--partitions", install.partitions, "0: one server; 1-8: partitioned servers");
  installCmd->add_option("--databases", install.databases, "databases per server");
  installCmd->add_option("--unlogged", install.unlogged, "of those, without transaction logging");
  installCmd->add_option("--size-mib", install.sizeMiB, "data per server in MiB");
  installCmd->add_option("--backend", install.backend, "dir | btrfs | none");
  installCmd->add_option("--layout", install.layout, "classic | newer | newer-one-comma");
  installCmd->add_option("--logging", install.logging, "archive | circular | none");
  installCmd->add_option("--translog-path", install.translogPath, "absolute | relative");
  installCmd->add_option("--log-extent-kib", install.extentKiB, "size of a log extent");
  installCmd->add_option("--computer-name", install.computerName, "the host's computer name");
  installCmd->add_option("--drives", install.drives, "letters of the data, log and ledger drives (DEL)");
  installCmd->add_option("--report-folder", install.reportFolder, "the service's report folder");
  installCmd->add_option("--seed", install.seed, "seed of the database contents");

  std::string root, ini;
  double timeout = 10;
  auto addServerOptions = [&](CLI::App* cmd) {
    cmd->add_option("--root", root, "host root directory (default ARK_ROOT; none on Windows)");
    cmd->add_option("--ini", ini, "Windows path of the server's notes.ini")->required();
  };
  bool content = false;
  CLI::App* digestCmd = app.add_subcommand("digest", "print a digest of every database");
  addServerOptions(digestCmd);
  digestCmd->add_flag("--content", content,
                      "digest the content alone (data pages, database record without its ids)");
  CLI::App* statusCmd = app.add_subcommand("status", "log position and whether nserver runs");
  addServerOptions(statusCmd);
  CLI::App* stopCmd = app.add_subcommand("stop-server", "stop the server's nserver");
  addServerOptions(stopCmd);
  stopCmd->add_option("--timeout", timeout, "seconds to wait");
  CLI::App* serverCmd = app.add_subcommand("server", "run nserver for a server");
  serverCmd->allow_extras();
  serverCmd->prefix_command();

  CLI11_PARSE(app, argc, argv);

  if (*installCmd) {
    dominosim::InstallResult result;
    std::string error;
    if (!dominosim::InstallHost(install, result, &error)) {
      std::fprintf(stderr, "dominosim install: %s\n", error.c_str());
      return 1;
    }
    dominosim::PrintInstall(install, result, stdout);
    return 0;
  }
  // nserver beside this executable, so that the server process carries its name.
  if (*serverCmd) {
    const int rc = platform::kit::RunSiblingProgram("nserver", serverCmd->remaining());
    return rc < 0 ? 2 : rc;
  }
  if (!root.empty()) platform::SetHostRoot(root);
  if (*digestCmd) {
    int failed = dominosim::PrintDigests(ini, stdout, stderr, content);
    return failed == 0 ? 0 : 1;
  }
  if (*statusCmd) return dominosim::PrintStatus(ini, stdout);
  if (*stopCmd) return dominosim::StopServer(ini, timeout, stdout);
  return 1;
}
