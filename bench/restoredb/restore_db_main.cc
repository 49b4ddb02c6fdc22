// The single-database restore measured against cp of the same files in the
// same run, for each place the hosts can lie on:
//   btrfs backend on a loop-mounted btrfs image (a snapshot is a read-only
//   subvolume), dir backend on the same btrfs (a snapshot is a tree of
//   reflinks), dir backend on the scratch directory's own file system;
//   one database of 1 GiB: `arkctl restore-db srv1 names.nsf --yes` (into
//   restore\, to the snapshot's time) and --up-to-the-minute, against
//   `cp --reflink=never` (a real copy) and plain `cp` of the live file;
//   a folder of 200 databases: `arkctl restore-db srv1 mail\ --yes` against
//   `cp -a --reflink=never` of that folder.
// Each host gets a backup and then more transactions, so recovery has logs
// to apply. Best of N rounds; the section goes into bench/RESULTS.md.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/compare/background.h"
#include "bench/compare/btrfs_image.h"
#include "bench/compare/timed_command.h"
#include "bench/restoredb/restore_db_section.h"

namespace ark {

namespace fs = std::filesystem;

namespace {

constexpr const char* kIni = "C:\\Lotus\\Domino\\notes.ini";
constexpr const char* kDatabase = "names.nsf";  // the only database of the 1 GiB host
constexpr const char* kFolder = "mail\\";       // 200 databases of the folder host
constexpr int kBaseDatabases = 5;               // the server's usual set before the mail files
constexpr const char* kComplete = "DATABASE RESTORE COMPLETE";

struct Options {
  double sizeMib = 1024;
  int folderDatabases = 200;
  double folderMibEach = 1;
  int rounds = 3;
  int transactions = 3000;
  std::string workdir = "/var/tmp/ark-restore-db";
  std::string bin;
  std::string results;
  bool btrfs = true;
  bool scratch = true;
  bool upToTheMinute = true;
};

std::string Tail(const std::string& text) { return text.substr(text.size() > 600 ? text.size() - 600 : 0); }

void Best(double& best, double value) { best = best < 0 ? value : std::min(best, value); }

bool Install(const Options& o, const std::string& root, const std::string& backend, int databases, double mib) {
  TimedRun run = RunTimed(o.bin + "/dominosim install --root " + Quote(root) + " --databases " +
                          std::to_string(databases) + " --unlogged 0 --size-mib " + Num(mib) + " --backend " +
                          backend + " --seed 1");
  if (run.exitCode != 0) Say("dominosim install failed:\n" + Tail(run.output));
  return run.exitCode == 0;
}

// Installs a host, starts arkserver, backs it up and writes transactions
// after the backup; the arkctl command prefix, or "" with *why set.
std::string Prepare(const Options& o, const std::string& root, const std::string& backend, int databases, double mib,
                    ArkService& service, std::string* why) {
  if (!Install(o, root, backend, databases, mib)) {
    *why = "dominosim install failed";
    return "";
  }
  service = StartArkService(o.bin, root, root + ".arkserver.log");
  if (service.port == 0) {
    *why = "arkserver did not start";
    return "";
  }
  const std::string ctl = o.bin + "/arkctl --port " + std::to_string(service.port) + " ";
  TimedRun backup = RunTimed(ctl + "backup srv1");
  if (backup.exitCode != 0) {
    *why = "backup failed: " + Tail(backup.output);
    return "";
  }
  TimedRun work = RunTimed(o.bin + "/nserver --root " + Quote(root) + " --ini " + Quote(kIni) +
                           " --seed 2 --rate 0 --transactions " + std::to_string(o.transactions));
  if (work.exitCode != 0) {
    *why = "nserver failed: " + Tail(work.output);
    return "";
  }
  return ctl;
}

// One timed restore-db into an emptied restore folder, end to end; -1 with
// *why set when it failed.
double TimeRestore(const std::string& ctl, const std::string& data, const std::string& args, std::string* why) {
  Shell("rm -rf " + Quote(data + "/restore") + " && sync -f " + Quote(data));
  TimedRun run = RunTimed(ctl + "restore-db srv1 " + args + " --yes");
  if (run.exitCode != 0 || run.output.find(kComplete) == std::string::npos) {
    *why = "restore-db " + args + " failed: " + Tail(run.output);
    return -1;
  }
  return run.seconds;
}

double TimeShell(const std::string& command) {
  TimedRun run = RunTimed(command);
  if (run.exitCode != 0) Say("failed: " + command + "\n" + Tail(run.output));
  return run.exitCode == 0 ? run.seconds : -1;
}

// The share of a file's extents that it shares with other files (btrfs
// only); -1 elsewhere.
double SharedShare(const std::string& file) {
  const std::string line = Capture("btrfs filesystem du --raw " + Quote(file) + " 2>/dev/null | tail -1");
  double total = 0, exclusive = 0;
  if (std::sscanf(line.c_str(), "%lf %lf", &total, &exclusive) != 2 || total <= 0) return -1;
  return 1 - exclusive / total;
}

void MeasurePlace(const Options& o, const std::string& base, const std::string& backend, PlaceFigures& f) {
  const std::string work = base + "/work";
  fs::create_directories(work);
  f.fileSystem = Capture("df -T " + Quote(work) + " | awk 'NR==2 {print $2}'");
  {
    ArkService service;
    const std::string root = base + "/one";
    const std::string ctl = Prepare(o, root, backend, 1, o.sizeMib, service, &f.note);
    if (ctl.empty()) return;
    const std::string data = root + "/volumes/D/Domino/Data";
    const std::string file = Quote(data + "/" + kDatabase), copy = Quote(work + "/copy.nsf");
    for (int round = 1; round <= o.rounds; ++round) {
      const double one = TimeRestore(ctl, data, kDatabase, &f.note);
      if (one < 0) return;
      const double minute = o.upToTheMinute ? TimeRestore(ctl, data, std::string(kDatabase) + " --up-to-the-minute", &f.note) : 0;
      if (minute < 0) return;
      Shell("rm -f " + copy + " && sync -f " + Quote(work));
      const double never = TimeShell("cp --reflink=never " + file + " " + copy + " && sync -f " + copy);
      Shell("rm -f " + copy + " && sync -f " + Quote(work));
      const double plain = TimeShell("cp " + file + " " + copy + " && sync -f " + copy);
      Say("  " + f.name + " round " + std::to_string(round) + ": restore-db " + Num(one) + " s, up to the minute " + Num(minute) +
          " s, cp --reflink=never " + Num(never) + " s, cp " + Num(plain) + " s");
      Best(f.one, one);
      if (o.upToTheMinute) Best(f.oneMinute, minute);
      if (never >= 0) Best(f.cpCopy, never);
      if (plain >= 0) Best(f.cpDefault, plain);
    }
    f.reflinkedShare = SharedShare(data + "/restore/" + kDatabase);
    Shell("rm -f " + copy);
  }
  std::error_code ignored;
  fs::remove_all(base + "/one", ignored);
  {
    ArkService service;
    const std::string root = base + "/folder";
    const int databases = kBaseDatabases + 3 * o.folderDatabases;  // every third added one is a mail file
    const std::string ctl = Prepare(o, root, backend, databases, o.folderMibEach * databases, service, &f.note);
    if (ctl.empty()) return;
    const std::string data = root + "/volumes/D/Domino/Data";
    const std::string copy = Quote(work + "/mail");
    for (int round = 1; round <= o.rounds; ++round) {
      const double folder = TimeRestore(ctl, data, Quote(kFolder), &f.note);
      if (folder < 0) return;
      Shell("rm -rf " + copy + " && sync -f " + Quote(work));
      const double cpa = TimeShell("cp -a --reflink=never " + Quote(data + "/mail") + " " + copy + " && sync -f " + copy);
      Say("  " + f.name + " round " + std::to_string(round) + ": restore-db of the folder " + Num(folder) +
          " s, cp -a " + Num(cpa) + " s");
      Best(f.folder, folder);
      if (cpa >= 0) Best(f.cpFolder, cpa);
    }
  }
  fs::remove_all(base, ignored);
}

}  // namespace

}  // namespace ark

using namespace ark;

int main(int argc, char** argv) {
  Options o;
  CLI::App app{"ark's single-database restore against cp of the same files, on btrfs and the scratch directory"};
  app.add_option("--size-mib", o.sizeMib, "size of the one database in MiB")->capture_default_str();
  app.add_option("--folder-databases", o.folderDatabases, "databases in the folder")->capture_default_str();
  app.add_option("--folder-mib-each", o.folderMibEach, "MiB per database of the folder host")->capture_default_str();
  app.add_option("--rounds", o.rounds, "rounds per measurement (the best counts)")->capture_default_str();
  app.add_option("--transactions", o.transactions, "transactions written after the backup")->capture_default_str();
  app.add_option("--workdir", o.workdir, "scratch directory (emptied first)")->capture_default_str();
  app.add_option("--bin", o.bin, "directory of arkserver, arkctl, dominosim and nserver (default: beside this program)");
  app.add_option("--results", o.results, "the results file (default: bench/RESULTS.md of the source tree)");
  app.add_flag("!--no-btrfs", o.btrfs, "leave out both places on btrfs");
  app.add_flag("!--no-scratch", o.scratch, "leave out the dir backend on the scratch directory's file system");
  app.add_flag("!--no-up-to-the-minute", o.upToTheMinute, "leave out the up-to-the-minute restore");
  CLI11_PARSE(app, argc, argv);
  if (o.bin.empty()) o.bin = fs::canonical("/proc/self/exe").parent_path().string();
  if (o.results.empty()) o.results = std::string(ARK_SOURCE_DIR) + "/bench/RESULTS.md";

  std::error_code ignored;
  fs::remove_all(o.workdir, ignored);
  fs::create_directories(o.workdir);
  BenchFacts facts;
  facts.machine = CollectFacts(o.workdir);
  facts.machine.commandLine = "scripts/bench-restore-db";
  for (int i = 1; i < argc; ++i) facts.machine.commandLine += std::string(" ") + argv[i];
  facts.sizeMib = o.sizeMib;
  facts.folderDatabases = o.folderDatabases;
  facts.folderMib = o.folderMibEach * o.folderDatabases;
  facts.transactions = o.transactions;
  facts.rounds = o.rounds;
  facts.database = kDatabase;
  facts.folder = kFolder;

  std::vector<PlaceFigures> places;
  if (o.btrfs) {
    // The hosts of one place at a time, each database once live, once in the
    // snapshot (shared) and once restored, plus the copies of cp.
    const double mib = std::max(o.sizeMib, o.folderMibEach * (kBaseDatabases + 3 * o.folderDatabases));
    BtrfsImage image(o.workdir + "/btrfs.img", o.workdir + "/btrfs", std::uint64_t(mib * 6 + 1024) << 20);
    for (const char* backend : {"btrfs", "dir"}) {
      PlaceFigures f;
      f.name = std::string(backend) + " backend";
      Say(f.name + " on btrfs");
      if (!image.mounted()) {
        f.note = "skipped: " + image.why();
      } else {
        MeasurePlace(o, o.workdir + "/btrfs/" + backend, backend, f);
      }
      places.push_back(f);
    }
  }
  if (o.scratch) {
    PlaceFigures f;
    f.name = "dir backend";
    Say(f.name + " on the scratch directory");
    MeasurePlace(o, o.workdir + "/scratch", "dir", f);
    places.push_back(f);
  }
  facts.loadAtEnd = Capture("cut -d' ' -f1-3 /proc/loadavg");
  const std::string section = RestoreDbSection(facts, places);
  ReplaceSection(o.results, "bench-restore-db", section, false);
  Say("\n" + section + "\nwritten to " + o.results);
  fs::remove_all(o.workdir, ignored);
  return 0;
}
