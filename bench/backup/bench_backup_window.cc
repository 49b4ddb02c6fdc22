// The backup-mode window against the number of databases, as a client sees
// it: from "Recording Domino changes" to "Domino backup mode stop
// completed" in the streamed output (open, BackupStart, the snapshot,
// BackupStop, the change information into the ArkLedger, BackupEnd of every
// database), then the flush of the ArkLedger's files that follows it, on
// simulated hosts of N small databases with the simulated runtime, measured
// in one run for each N (best of --rounds):
//   window     what the client sees held, and in it the snapshot's share
//              ("Completed CreateSnapShot method") and the capture's
//   flush      from the end of the window to the end of the step
//   unflushed  the whole step with every flush answered without the disk
//              (platform::FlushOverride): the flushed step against it
//   snapshot   the snapshot alone (no database in backup mode)
//   cp -a      a copy of the data directory (the baseline)
// Targets: the window grows by at most 0.1 ms per database, 10,000
// databases are held at most 1 s, and the flushed step takes at most 1.2x
// the unflushed one.
// Usage: bench_backup_window [--sizes 200,2000,10000] [--rounds N] [DIR]
// DIR, a directory on a disk (btrfs: the btrfs backend, else the directory
// backend), is the real-disk mode: every round starts with everything on
// the disk (sync, then a settle). Without it the hosts go to a memory file
// system (/dev/shm where it has room), where a flush costs nothing.
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
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
#include "platform/files.h"
#include "snapshot/component_access.h"
#include "snapshot/snapshot_cycle.h"
#include "snapshotsvc/configure.h"

namespace ark {

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// Wall-clock seconds and processor seconds (this process and the children
// it waited for): on a shared machine the processor time is the steadier.
struct Cost {
  double wall = 1e30;
  double cpu = 1e30;
};

// One backup-mode step as the client sees it, in seconds.
struct Step {
  double window = 1e30;    // "Recording Domino changes" to "... stop completed"
  double snapshot = 1e30;  // of it: to "Completed CreateSnapShot method"
  double flush = 1e30;     // "... stop completed" to the end of the step
  double total = 1e30;     // the whole step
};

struct Times {
  int databases = 0;
  Step flushed;
  Step unflushed;  // every flush answered without the disk
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

double Since(Clock::time_point start, Clock::time_point end) {
  return std::chrono::duration<double>(end - start).count();
}

// Every round starts with the data on the disk and the disk at rest.
void Settle(bool realDisk) {
  if (!realDisk) return;
  ::sync();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
}

// The best of several rounds; a negative wall time when a round failed.
Cost Best(int rounds, bool realDisk, const std::function<void()>& setUp, const std::function<bool()>& run) {
  Cost best;
  for (int i = 0; i < rounds; ++i) {
    setUp();
    Settle(realDisk);
    const double cpu = CpuSeconds();
    const auto start = Clock::now();
    if (!run()) return {-1, -1};
    best.wall = std::min(best.wall, Since(start, Clock::now()));
    best.cpu = std::min(best.cpu, CpuSeconds() - cpu);
  }
  return best;
}

// The streamed output of a step as a client receives it: the moment each
// of the texts looked for first arrived.
class StreamClock {
 public:
  explicit StreamClock(std::vector<std::string> texts) : texts_(std::move(texts)), seen_(texts_.size()) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) std::abort();
    ours_ = pair[0];
    theirs_ = pair[1];
    reader_ = std::thread([this] { Read(); });
    SetStreamingConnection(ours_);
  }
  ~StreamClock() {
    ClearStreamingConnection();
    ::shutdown(ours_, SHUT_WR);
    if (reader_.joinable()) reader_.join();
    ::close(ours_);
    ::close(theirs_);
  }
  StreamClock(const StreamClock&) = delete;
  StreamClock& operator=(const StreamClock&) = delete;
  // Waits until the text arrived (all sent before is read by then).
  Clock::time_point At(std::size_t i) {
    ClearStreamingConnection();
    ::shutdown(ours_, SHUT_WR);
    if (reader_.joinable()) reader_.join();
    return seen_[i];
  }

 private:
  void Read() {
    std::string received;
    char buffer[65536];
    for (;;) {
      const ssize_t n = ::read(theirs_, buffer, sizeof buffer);
      if (n <= 0) return;
      const auto now = Clock::now();
      received.append(buffer, std::size_t(n));
      for (std::size_t i = 0; i < texts_.size(); ++i) {
        if (seen_[i] == Clock::time_point() && received.find(texts_[i]) != std::string::npos) seen_[i] = now;
      }
      // Keep only a tail long enough for a text cut between two reads.
      if (received.size() > 4096) received.erase(0, received.size() - 256);
    }
  }
  std::vector<std::string> texts_;
  std::vector<Clock::time_point> seen_;
  int ours_ = -1, theirs_ = -1;
  std::thread reader_;
};

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

bool OnBtrfs(const std::string& dir) {
  struct statfs st {};
  return ::statfs(dir.c_str(), &st) == 0 && st.f_type == 0x9123683E;  // BTRFS_SUPER_MAGIC
}

bool Measure(const std::string& dir, bool realDisk, int databases, int rounds, Times& times) {
  times.databases = databases;
  dominosim::InstallOptions options;
  options.root = dir + "/host-" + std::to_string(databases);
  options.databases = databases;
  options.unlogged = 0;
  options.sizeMiB = 0;  // the smallest databases: the window's cost per database shows
  options.backend = realDisk && OnBtrfs(dir) ? "btrfs" : "dir";
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
  auto step = [&](bool flushing, Step& best) {
    for (int i = 0; i < rounds; ++i) {
      freshStart();
      Settle(realDisk);
      std::unique_ptr<platform::FlushOverride> none;
      if (!flushing) none = std::make_unique<platform::FlushOverride>([](const std::string&) { return DWORD(0); });
      ClearReportText();
      BackupRequest request;
      StreamClock stream({"Recording Domino changes", "Completed CreateSnapShot method",
                          "Domino backup mode stop completed"});
      const auto start = Clock::now();
      if (RunBackupModeStep(request, server, ledger, drive, name) != 0) {
        std::fprintf(stderr, "the backup-mode step failed:\n%s\n", request.output.accumulated.c_str());
        return false;
      }
      const auto end = Clock::now();
      const auto recording = stream.At(0), snapshot = stream.At(1), stopped = stream.At(2);
      best.window = std::min(best.window, Since(recording, stopped));
      best.snapshot = std::min(best.snapshot, Since(recording, snapshot));
      best.flush = std::min(best.flush, Since(stopped, end));
      best.total = std::min(best.total, Since(start, end));
    }
    return true;
  };
  if (!step(true, times.flushed) || !step(false, times.unflushed)) return false;
  times.snapshot = Best(
      rounds, realDisk, [&] { DeleteSnapshot(drive, name); },
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
      rounds, realDisk, [&] { fs::remove_all(copy); },
      [&] { return Shell("cp -a " + Quote(dataHost) + " " + Quote(copy)); });
  fs::remove_all(copy);
  fs::remove_all(options.root);
  return times.snapshot.wall >= 0 && times.copy.wall >= 0;
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
  std::string diskDir;
  CLI::App app{"The backup-mode window against the number of databases."};
  app.add_option("--sizes", sizes, "numbers of databases (one argument: 200,2000,10000)")->delimiter(',')->allow_extra_args(false);
  app.add_option("--rounds", rounds, "rounds of each measurement (the best counts)");
  app.add_option("dir", diskDir, "a directory on a disk: the real-disk mode (the hosts are removed afterwards)");
  CLI11_PARSE(app, argc, argv);
  std::sort(sizes.begin(), sizes.end());
  if (sizes.size() < 2 || sizes.front() < 1 || rounds < 1) {
    std::fprintf(stderr, "need two sizes or more and one round or more\n");
    return 2;
  }
  const bool realDisk = !diskDir.empty();
  std::string dir;
  if (realDisk) {
    dir = (fs::path(diskDir) / ("ark-bench-window-" + std::to_string(::getpid()))).string();
  } else {
    // A memory file system when it has room for the largest host, its
    // snapshot and its copy.
    std::error_code ec;
    const bool roomInMemory = ::access("/dev/shm", W_OK) == 0 &&
                              fs::space("/dev/shm", ec).available >= (std::uintmax_t(1) << 30) && !ec;
    const fs::path base = roomInMemory ? fs::path("/dev/shm") : fs::temp_directory_path();
    dir = (base / ("ark-bench-window-" + std::to_string(::getpid()))).string();
  }

  SetDominoApi(&dominosim::Api());
  snapshotsvc::RegisterClassServers();
  fs::create_directories(dir);
  std::printf("hosts under %s (%s, %s backend)\n", dir.c_str(), realDisk ? "real disk" : "memory",
              realDisk && OnBtrfs(dir) ? "btrfs" : "directory");
  std::vector<Times> all;
  bool ok = true;
  for (int n : sizes) {
    Times times;
    if (!Measure(dir, realDisk, n, rounds, times)) {
      ok = false;
      break;
    }
    all.push_back(times);
    const Step& f = times.flushed;
    std::printf("%6d databases: window %7.3f s (snapshot %7.3f s, capture %7.3f s), flush %7.3f s; "
                "step %7.3f s, unflushed %7.3f s (window %7.3f s), flushed / unflushed %5.2fx (target 1.2) %s; "
                "snapshot alone %7.3f s; cp -a %7.3f s\n",
                n, f.window, f.snapshot, f.window - f.snapshot, f.flush, f.total, times.unflushed.total,
                times.unflushed.window, f.total / times.unflushed.total,
                f.total <= 1.2 * times.unflushed.total ? "ok" : "SLOW", times.snapshot.wall, times.copy.wall);
    std::fflush(stdout);
  }
  fs::remove_all(dir);
  if (!ok) return 1;
  const Times& small = all.front();
  const Times& large = all.back();
  const double window = PerDatabaseMs(small.flushed.window, large.flushed.window, small.databases, large.databases);
  const double snapshot = PerDatabaseMs(small.snapshot.wall, large.snapshot.wall, small.databases, large.databases);
  const double copy = PerDatabaseMs(small.copy.wall, large.copy.wall, small.databases, large.databases);
  std::printf("window per database from %d to %d: %.4f ms (target 0.1) %s, of which the snapshot alone %.4f ms; "
              "cp -a %.4f ms\n",
              small.databases, large.databases, window, window <= 0.1 ? "ok" : "SLOW", snapshot, copy);
  if (large.databases >= 10000) {
    std::printf("%d databases held %.3f s (target 1 s) %s\n", large.databases, large.flushed.window,
                large.flushed.window <= 1.0 ? "ok" : "SLOW");
  }
  return 0;
}
