// ark against the usual ways of backing up a Domino data directory, on one
// generated host, measured in one run:
//   ark backup (directory backend; btrfs when root and a loop device allow)
//   with the server writing, against cp -a, tar, rsync, restic and borg of
//   the data directory of a stopped server;
//   how long the databases are held (ark: from "Recording Domino changes" to
//   "Domino backup mode stop completed"; the others: the server is down for
//   the whole copy);
//   the restore of each.
// Ratios are against cp -a. Writes its section of bench/RESULTS.md (--results), leaving the other scripts' sections.
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/compare/background.h"
#include "bench/compare/btrfs_image.h"
#include "bench/compare/methods.h"
#include "bench/compare/results_file.h"
#include "bench/compare/timed_command.h"

namespace ark {

namespace fs = std::filesystem;

namespace {

constexpr const char* kIni = "C:\\Lotus\\Domino\\notes.ini";
constexpr const char* kRecording = "Recording Domino changes";
constexpr const char* kStopCompleted = "Domino backup mode stop completed";
constexpr double kWorkloadRate = 200;  // transactions a second during ark's online backup
constexpr unsigned kSettleSeconds = 2;  // after the sync before each timed step

struct Options {
  double sizeMib = 2048;
  int databases = 2000;
  bool quick = false;
  int rounds = 1;
  std::string workdir = "/var/tmp/ark-compare";
  std::string bin;
  std::string results;
  bool btrfs = true;
};

// Before each timed step, of every method alike: what earlier steps wrote
// goes to the disk (a btrfs snapshot would otherwise write out the dirty
// pages the host's generation left), then the disk comes to rest.
void Settle() {
  ::sync();
  ::sleep(kSettleSeconds);
}

bool Installed(const std::string& program) { return Shell("command -v " + program + " >/dev/null") == 0; }

bool InstallHost(const Options& o, const std::string& root, const std::string& backend) {
  const std::string command = o.bin + "/dominosim install --root " + Quote(root) + " --databases " +
                              std::to_string(o.databases) + " --size-mib " + std::to_string(o.sizeMib) +
                              " --backend " + backend + " --seed 1";
  TimedRun run = RunTimed(command);
  if (run.exitCode != 0) Say("dominosim install failed:\n" + run.output);
  return run.exitCode == 0;
}

// ark on one host: online backups while nserver writes, then restores of a
// stopped server.
Measured MeasureArk(const Options& o, const std::string& name, const std::string& root, const std::string& logs) {
  Measured m;
  m.name = name;
  m.online = true;
  ArkService service = StartArkService(o.bin, root, logs + "/arkserver.log");
  if (service.port == 0) {
    m.note = "arkserver did not start";
    return m;
  }
  const std::string ctl = o.bin + "/arkctl --port " + std::to_string(service.port) + " ";
  double bestBackup = 1e30, bestHeld = 1e30, bestRestore = 1e30;
  for (int round = 0; round < o.rounds; ++round) {
    Background server({o.bin + "/nserver", "--root", root, "--ini", kIni, "--rate", std::to_string(kWorkloadRate),
                       "--seed", std::to_string(round + 1)},
                      logs + "/nserver.log");
    Settle();  // the server is writing when the backup starts
    TimedRun backup = RunTimed(ctl + "backup srv1");
    server.Stop();
    const double from = backup.FirstSeen(kRecording), to = backup.FirstSeen(kStopCompleted);
    if (backup.exitCode != 0 || from < 0 || to < 0) {
      m.note = "backup failed: " + backup.output.substr(backup.output.size() > 400 ? backup.output.size() - 400 : 0);
      return m;
    }
    Settle();
    TimedRun restore = RunTimed(ctl + "restore srv1 recent --point-in-time --yes");
    if (restore.exitCode != 0) {
      m.note = "restore failed: " + restore.output.substr(restore.output.size() > 400 ? restore.output.size() - 400 : 0);
      return m;
    }
    Say("  " + name + " round " + std::to_string(round + 1) + ": backup " + Num(backup.seconds) + " s, held " +
        Num(to - from) + " s, restore " + Num(restore.seconds) + " s");
    bestBackup = std::min(bestBackup, backup.seconds);
    bestHeld = std::min(bestHeld, to - from);
    bestRestore = std::min(bestRestore, restore.seconds);
  }
  m.backup = bestBackup;
  m.held = bestHeld;
  m.restore = bestRestore;
  m.done = true;
  return m;
}

Measured MeasureTool(const Options& o, const ToolMethod& tool, const std::string& data, const std::string& work) {
  Measured m;
  m.name = tool.name;
  if (!Installed(tool.program)) {
    m.note = tool.program + " is not installed";
    return m;
  }
  fs::create_directories(work);
  double bestBackup = 1e30, bestRestore = 1e30;
  for (int round = 0; round < o.rounds; ++round) {
    Shell(Expand(tool.prepareBackup, data, work));
    Settle();
    TimedRun backup = RunTimed(Expand(tool.backup, data, work));
    Shell(Expand(tool.prepareRestore, data, work));
    Settle();
    TimedRun restore = RunTimed(Expand(tool.restore, data, work));
    if (backup.exitCode != 0 || restore.exitCode != 0) {
      m.note = "failed: " + backup.output + restore.output;
      return m;
    }
    Say("  " + tool.name + " round " + std::to_string(round + 1) + ": backup " + Num(backup.seconds) +
        " s, restore " + Num(restore.seconds) + " s");
    bestBackup = std::min(bestBackup, backup.seconds);
    bestRestore = std::min(bestRestore, restore.seconds);
  }
  std::error_code ignored;
  fs::remove_all(work, ignored);  // the next tool gets the disk space back
  m.backup = bestBackup;
  m.held = bestBackup;  // the server stays stopped for the whole copy
  m.restore = bestRestore;
  m.done = true;
  return m;
}

}  // namespace

}  // namespace ark

using namespace ark;

int main(int argc, char** argv) {
  Options o;
  CLI::App app{"ark's backup and restore against cp -a, tar, rsync, restic and borg on one generated host"};
  app.add_option("--size-mib", o.sizeMib, "data on the host in MiB")->capture_default_str();
  app.add_option("--databases", o.databases, "databases on the host")->capture_default_str();
  app.add_flag("--quick", o.quick, "a host of 200 MiB and 200 databases, three rounds");
  app.add_option("--rounds", o.rounds, "rounds per method (the best counts)")->capture_default_str();
  app.add_option("--workdir", o.workdir, "scratch directory (emptied first)")->capture_default_str();
  app.add_option("--bin", o.bin, "directory of arkserver, arkctl, dominosim and nserver (default: beside this program)");
  app.add_option("--results", o.results, "where the table goes (default: bench/RESULTS.md of the source tree)");
  app.add_flag("!--no-btrfs", o.btrfs, "leave out the btrfs backend");
  CLI11_PARSE(app, argc, argv);
  if (o.quick) {
    if (app.count("--size-mib") == 0) o.sizeMib = 200;
    if (app.count("--databases") == 0) o.databases = 200;
    if (app.count("--rounds") == 0) o.rounds = 3;
  }
  if (o.bin.empty()) o.bin = fs::canonical("/proc/self/exe").parent_path().string();
  if (o.results.empty()) o.results = std::string(ARK_SOURCE_DIR) + "/bench/RESULTS.md";
  ::setenv("BORG_UNKNOWN_UNENCRYPTED_REPO_ACCESS_IS_OK", "yes", 1);
  ::setenv("BORG_RELOCATED_REPO_ACCESS_IS_OK", "yes", 1);

  std::error_code ignored;
  fs::remove_all(o.workdir, ignored);
  fs::create_directories(o.workdir + "/logs");
  const std::string logs = o.workdir + "/logs";
  RunFacts facts = CollectFacts(o.workdir);
  facts.sizeMib = o.sizeMib;
  facts.databases = o.databases;
  facts.rounds = o.rounds;
  facts.workloadRate = kWorkloadRate;
  facts.commandLine = "scripts/bench-compare";
  for (int i = 1; i < argc; ++i) facts.commandLine += std::string(" ") + argv[i];

  std::vector<Measured> rows;
  const std::string dirRoot = o.workdir + "/dir-host";
  Say("generating the host: " + std::to_string(o.databases) + " databases, " + Num(o.sizeMib) + " MiB");
  if (!InstallHost(o, dirRoot, "dir")) return 1;
  Say("ark, directory backend");
  rows.push_back(MeasureArk(o, "ark (directory backend)", dirRoot, logs));
  if (o.btrfs) {
    const std::uint64_t imageBytes = std::max<std::uint64_t>(1ull << 30, std::uint64_t(o.sizeMib * 3 + 512) << 20);
    BtrfsImage image(o.workdir + "/btrfs.img", o.workdir + "/btrfs", imageBytes);
    Measured btrfs;
    btrfs.name = "ark (btrfs backend)";
    btrfs.online = true;
    if (!image.mounted()) {
      btrfs.note = "skipped: " + image.why();
    } else if (InstallHost(o, o.workdir + "/btrfs/host", "btrfs")) {
      Say("ark, btrfs backend");
      btrfs = MeasureArk(o, btrfs.name, o.workdir + "/btrfs/host", logs);
    } else {
      btrfs.note = "the btrfs host could not be installed";
    }
    rows.push_back(btrfs);
  }
  // The plain tools copy the data directory of the same (stopped) server.
  const std::string data = dirRoot + "/volumes/D/Domino/Data";
  for (const ToolMethod& tool : ToolMethods()) {
    Say(tool.name);
    rows.push_back(MeasureTool(o, tool, data, o.workdir + "/tool"));
  }
  facts.loadAtEnd = Capture("cut -d' ' -f1-3 /proc/loadavg");
  facts.versions = ToolVersions();
  const std::string table = WriteResults(o.results, facts, rows);
  Say("\n" + table + "\nwritten to " + o.results);
  fs::remove_all(o.workdir, ignored);
  return 0;
}
