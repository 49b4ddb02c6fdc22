// The backup-mode window against the number of databases: from the first
// database put into backup mode to the last one given back (the backup-mode
// step of a backup: open, BackupStart, the snapshot, BackupStop, the change
// information into the ArkLedger, BackupEnd), on simulated hosts of N small
// databases with the directory snapshot backend and the simulated runtime,
// measured in one run for each N (best of --rounds):
//   window     the whole step
//   snapshot   the snapshot alone (no database in backup mode)
//   cp -a      a copy of the data directory, what the directory backend's
//              snapshot does on its own (the baseline)
// Prints each time, in wall-clock and in processor seconds, and the growth
// per database between the smallest and the largest host; the target for
// the window's growth is 0.2 ms per database.
// Usage: bench_backup_window [--sizes 200,2000,10000] [--rounds N] [--dir DIR]
// (DIR: scratch directory, /dev/shm/... by default where it exists)
#include <sys/resource.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "backup/backup_run.h"
#include "domino/domino_api.h"
#include "domino/host_utils.h"
#include "domino/runtime.h"
#include "domino/settings.h"
#include "dominosim/install.h"
#include "dominosim/server_config.h"
#include "dominosim/sim_api.h"
#include "output/output.h"
#include "snapshot/component_access.h"
#include "snapshot/snapshot_cycle.h"
#include "snapshotsvc/configure.h"

namespace ark {

namespace fs = std::filesystem;

namespace {

// Wall-clock seconds and processor seconds (this process and the children
// it waited for): on a shared machine the processor time is the steadier.
struct Cost {
  double wall = 1e30;
  double cpu = 1e30;
};

struct Times {
  int databases = 0;
  Cost window;
  Cost snapshot;
  Cost copy;
};

double CpuSeconds() {
  double total = 0;
  for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
    struct rusage usage = {};
    ::getrusage(who, &usage);
    for (const struct timeval& t : {usage.ru_utime, usage.ru_stime}) {
      total += double(t.tv_sec) + double(t.tv_usec) / 1e6;
    }
  }
  return total;
}

// The best of several rounds; a negative wall time when a round failed.
Cost Best(int rounds, const std::function<void()>& setUp, const std::function<bool()>& run) {
  Cost best;
  for (int i = 0; i < rounds; ++i) {
    setUp();
    const double cpu = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    if (!run()) return {-1, -1};
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    best.wall = std::min(best.wall, took.count());
    best.cpu = std::min(best.cpu, CpuSeconds() - cpu);
  }
  return best;
}

bool Shell(const std::string& command) {
  if (std::system(command.c_str()) == 0) return true;
  std::fprintf(stderr, "failed: %s\n", command.c_str());
  return false;
}

std::string Quote(const std::string& path) { return "'" + path + "'"; }

void DeleteSnapshot(const std::u16string& drive, const std::u16string& name) {
  std::unique_ptr<snapshot::ISnapshotService> service;
  if (FAILED(snapshot::OpenSnapshotService(snapshot::kComponentContext, service, nullptr))) return;
  std::uint8_t flag = 0;
  service->DeleteSnapShot(drive, name, &flag);
}

bool Measure(const std::string& dir, int databases, int rounds, Times& times) {
  times.databases = databases;
  dominosim::InstallOptions options;
  options.root = dir + "/host-" + std::to_string(databases);
  options.databases = databases;
  options.unlogged = 0;
  options.sizeMiB = 0;  // the smallest databases: the window's cost per database shows
  options.backend = "dir";
  dominosim::InstallResult installed;
  std::string error;
  if (!dominosim::InstallHost(options, installed, &error)) {
    std::fprintf(stderr, "install failed: %s\n", error.c_str());
    return false;
  }
  const dominosim::InstalledServer& installedServer = installed.servers.front();
  if (StartDominoRuntime(installedServer.notesIni) != NOERROR) {
    std::fprintf(stderr, "the runtime did not start for %s\n", installedServer.notesIni.c_str());
    return false;
  }
  DominoServerInfo server;
  server.commonName = "srv1";
  server.serverName = "srv1/Org";
  server.dataDirectory = installedServer.dataDirectory;
  server.dataVolume.driveLetter = u'D';
  const std::u16string drive = u"D:";
  const std::u16string name = u"dominosnap__BENCH__srv1__recent";
  const std::string ledger = "L:\\ArkLedger\\srv1\\bench";
  std::string ledgerHost;
  dominosim::MapPath(ledger, ledgerHost);
  // Each round writes into an empty ArkLedger directory, as a backup does.
  auto freshStart = [&] {
    DeleteSnapshot(drive, name);
    fs::remove_all(ledgerHost);
    CreateDirectoryTree(ledger);
  };

  times.window = Best(
      rounds, freshStart,
      [&] {
        ClearReportText();
        BackupRequest request;
        if (RunBackupModeStep(request, server, ledger, drive, name) == 0) return true;
        std::fprintf(stderr, "the backup-mode step failed:\n%s\n", request.output.accumulated.c_str());
        return false;
      });
  times.snapshot = Best(
      rounds, [&] { DeleteSnapshot(drive, name); },
      [&] {
        std::string text;
        return TakeSnapshot(drive.substr(0, 1), name, text) == 0;
      });
  DeleteSnapshot(drive, name);
  Domino().TermRuntime();

  std::string dataHost;
  dominosim::MapPath(installedServer.dataDirectory, dataHost);
  const std::string copy = dir + "/copy-" + std::to_string(databases);
  times.copy = Best(
      rounds, [&] { fs::remove_all(copy); },
      [&] { return Shell("cp -a " + Quote(dataHost) + " " + Quote(copy)); });
  fs::remove_all(copy);
  fs::remove_all(options.root);
  return times.window.wall >= 0 && times.snapshot.wall >= 0 && times.copy.wall >= 0;
}

double PerDatabaseMs(double smallSeconds, double largeSeconds, int smallCount, int largeCount) {
  return (largeSeconds - smallSeconds) * 1000.0 / double(largeCount - smallCount);
}

}  // namespace

}  // namespace ark

using namespace ark;

int main(int argc, char** argv) {
  std::vector<int> sizes = {200, 2000, 10000};
  int rounds = 3;
  // On a memory file system by default (when it has room for the largest
  // host, its snapshot and its copy): on a disk file system, the cost of
  // making inodes (which depends on what else the machine has just deleted)
  // swamps the window's own and the copy's alike.
  std::error_code ec;
  const bool roomInMemory = ::access("/dev/shm", W_OK) == 0 &&
                            fs::space("/dev/shm", ec).available >= (std::uintmax_t(1) << 30) && !ec;
  const fs::path base = roomInMemory ? fs::path("/dev/shm") : fs::temp_directory_path();
  std::string dir = (base / ("ark-bench-window-" + std::to_string(::getpid()))).string();
  CLI::App app{"The backup-mode window against the number of databases."};
  app.add_option("--sizes", sizes, "numbers of databases")->delimiter(',');
  app.add_option("--rounds", rounds, "rounds of each measurement (the best counts)");
  app.add_option("--dir", dir, "scratch directory (removed afterwards)");
  CLI11_PARSE(app, argc, argv);
  std::sort(sizes.begin(), sizes.end());
  if (sizes.size() < 2 || sizes.front() < 1 || rounds < 1) {
    std::fprintf(stderr, "need two sizes or more and one round or more\n");
    return 2;
  }

  SetDominoApi(&dominosim::Api());
  snapshotsvc::RegisterClassServers();
  fs::create_directories(dir);
  std::printf("hosts under %s\n", dir.c_str());
  std::vector<Times> all;
  bool ok = true;
  for (int n : sizes) {
    Times times;
    if (!Measure(dir, n, rounds, times)) {
      ok = false;
      break;
    }
    all.push_back(times);
    std::printf("%6d databases: window %7.3f s (processor %7.3f s), snapshot alone %7.3f s (%7.3f s), "
                "cp -a %7.3f s (%7.3f s)\n",
                n, times.window.wall, times.window.cpu, times.snapshot.wall, times.snapshot.cpu,
                times.copy.wall, times.copy.cpu);
    std::fflush(stdout);
  }
  fs::remove_all(dir);
  if (!ok) return 1;
  const Times& small = all.front();
  const Times& large = all.back();
  for (double Cost::*measure : {&Cost::wall, &Cost::cpu}) {
    auto growth = [&](Cost Times::*what) {
      return PerDatabaseMs(small.*what.*measure, large.*what.*measure, small.databases, large.databases);
    };
    const double window = growth(&Times::window);
    const double snapshot = growth(&Times::snapshot);
    const double copy = growth(&Times::copy);
    std::printf("growth per database from %d to %d (%s): window %.3f ms (target 0.2), of which the snapshot "
                "%.3f ms and backup mode %.3f ms; cp -a %.3f ms; window / cp -a %.2fx\n",
                small.databases, large.databases, measure == &Cost::wall ? "wall clock" : "processor", window,
                snapshot, window - snapshot, copy, copy > 0 ? window / copy : 0.0);
  }
  return 0;
}
