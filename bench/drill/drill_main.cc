// The restore drill measured against reading and copying the same data in
// the same run: a host of 2,000 databases (2 GiB) backed up, then
// `arkctl drill srv1` against `cat` of every database file to /dev/null (what
// reading every page once costs) and `cp -a` of the data directory, for the
// btrfs backend on a loop-mounted btrfs image (the drill works in a clone of
// the snapshot), the dir backend on the same btrfs (a reflink clone) and the
// dir backend on the scratch directory's file system (copies below the
// ArkLedger root). On btrfs also the scratch space a kept clone holds
// exclusively, against the data's size. Best of N rounds; the section goes
// into bench/RESULTS.md (its own section).
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/compare/background.h"
#include "bench/compare/btrfs_image.h"
#include "bench/compare/results_file.h"
#include "bench/compare/timed_command.h"

namespace ark {

namespace fs = std::filesystem;

namespace {


struct Options {
  double sizeMib = 2048;
  int databases = 2000;
  int rounds = 2;
  std::string workdir = "/var/tmp/ark-drill";
  std::string bin, results;
  bool btrfs = true, scratch = true;
  bool cold = true;  // each measurement starts with the page cache dropped
};

struct Place {
  std::string name, fileSystem, note;
  double drill = -1, cat = -1, cp = -1, scratchShare = -1;
  std::string verdict;
};

std::string Tail(const std::string& text) { return text.substr(text.size() > 600 ? text.size() - 600 : 0); }
void Best(double& best, double value) { if (value >= 0) best = best < 0 ? value : std::min(best, value); }
// Drops the page cache (when allowed), so that each measurement reads from
// the disk as a drill of a snapshot taken hours ago would.
void Cool(const Options& o) {
  if (o.cold) Shell("sync && echo 3 > /proc/sys/vm/drop_caches 2>/dev/null");
}

double Timed(const std::string& command) {
  TimedRun run = RunTimed(command);
  if (run.exitCode != 0) Say("failed: " + command + "\n" + Tail(run.output));
  return run.exitCode == 0 ? run.seconds : -1;
}

// Bytes a tree holds exclusively (btrfs only; -1 elsewhere).
double ExclusiveBytes(const std::string& tree) {
  const std::string line = Capture("btrfs filesystem du -s --raw " + Quote(tree) + " 2>/dev/null | tail -1");
  double total = 0, exclusive = 0;
  return std::sscanf(line.c_str(), "%lf %lf", &total, &exclusive) == 2 ? exclusive : -1;
}

void Measure(const Options& o, const std::string& base, const std::string& backend, Place& p) {
  fs::create_directories(base);
  p.fileSystem = Capture("df -T " + Quote(base) + " | awk 'NR==2 {print $2}'");
  const std::string root = base + "/host", data = root + "/volumes/D/Domino/Data";
  TimedRun install = RunTimed(o.bin + "/dominosim install --root " + Quote(root) + " --databases " +
                              std::to_string(o.databases) + " --unlogged 0 --size-mib " + Num(o.sizeMib) +
                              " --backend " + backend + " --seed 1");
  if (install.exitCode != 0) return void(p.note = "dominosim install failed: " + Tail(install.output));
  ArkService service = StartArkService(o.bin, root, root + ".arkserver.log");
  if (service.port == 0) return void(p.note = "arkserver did not start");
  const std::string ctl = o.bin + "/arkctl --port " + std::to_string(service.port) + " ";
  TimedRun backup = RunTimed(ctl + "backup srv1");
  if (backup.exitCode != 0) return void(p.note = "backup failed: " + Tail(backup.output));
  const std::string copy = Quote(base + "/copy");
  for (int round = 1; round <= o.rounds; ++round) {
    Cool(o);
    const double cat = Timed("find " + Quote(data) + " -type f \\( -name '*.nsf' -o -name '*.ntf' -o -name '*.box' \\) "
                             "-exec cat {} + > /dev/null");
    Cool(o);
    TimedRun drill = RunTimed(ctl + "drill srv1");
    if (drill.exitCode != 0) return void(p.note = "drill failed: " + Tail(drill.output));
    const std::size_t at = drill.output.find("DRILL PASSED: ");
    p.verdict = drill.output.substr(at, drill.output.find('\n', at) - at);
    Shell("rm -rf " + copy + " && sync -f " + Quote(base));
    Cool(o);
    const double cp = Timed("cp -a " + Quote(data) + " " + copy + " && sync -f " + copy);
    Shell("rm -rf " + copy);
    Say("  " + p.name + " round " + std::to_string(round) + ": drill " + Num(drill.seconds) + " s, cat " + Num(cat) +
        " s, cp -a " + Num(cp) + " s");
    Best(p.drill, drill.seconds);
    Best(p.cat, cat);
    Best(p.cp, cp);
  }
  if (p.fileSystem == "btrfs") {  // a kept clone: what it holds of its own after the drill wrote
    TimedRun kept = RunTimed(ctl + "drill srv1 --keep");
    const std::string clones = root + "/volumes/.snapshots/D/clones";
    const double own = ExclusiveBytes(clones), all = ExclusiveBytes(data);
    const std::string line = Capture("btrfs filesystem du -s --raw " + Quote(data) + " | tail -1");
    double total = 0;
    if (own >= 0 && std::sscanf(line.c_str(), "%lf", &total) == 1 && total > 0) p.scratchShare = own / total;
    (void)all;
    (void)kept;
  }
}

std::string Ratio(double a, double b) { return a < 0 || b <= 0 ? "-" : Num(a / b) + "x"; }
std::string Secs(double s) { return s < 0 ? "-" : Num(s) + " s"; }

std::string Section(const Options& o, const RunFacts& m, const std::string& loadAtEnd, const std::vector<Place>& places) {
  std::ostringstream out;
  out << "## Restore drills against cat and cp -a\n\n"
      << "Measured " << m.date << " on " << m.cpu << " (" << m.nproc << " cores, " << m.memory << "), kernel "
      << m.kernel << "; load averages " << m.load << " at the start and " << loadAtEnd
      << " at the end (the machine is shared: read the ratios). Command: `" << m.commandLine << "`.\n\n"
      << "A host of " << o.databases << " databases, " << Num(o.sizeMib) << " MiB, backed up once; best of "
      << o.rounds << " rounds" << (o.cold ? ", each measurement with the page cache dropped first" : ", warm page cache")
      << ". `cat`: every database file to /dev/null; `cp -a`: the data directory, then `sync -f`; "
      << "`drill`: `arkctl drill srv1` end to end (clone or copies, change information, recovery to the snapshot's "
      << "time, every note read, clean-up). Goal: at most 1.5x `cat`; on btrfs the clone's own space below 5 % of the data.\n\n"
      << "| Place | File system | drill | cat | cp -a | drill / cat | drill / cp -a | clone's own space | Note |\n"
      << "|---|---|---|---|---|---|---|---|---|\n";
  for (const Place& p : places) {
    out << "| " << p.name << " | " << p.fileSystem << " | " << Secs(p.drill) << " | " << Secs(p.cat) << " | "
        << Secs(p.cp) << " | " << Ratio(p.drill, p.cat) << " | " << Ratio(p.drill, p.cp) << " | "
        << (p.scratchShare < 0 ? std::string("-") : Num(100 * p.scratchShare) + " %") << " | "
        << (p.note.empty() ? p.verdict : p.note) << " |\n";
  }

  return out.str();
}

}  // namespace

}  // namespace ark

using namespace ark;

int main(int argc, char** argv) {
  Options o;
  CLI::App app{"ark's restore drill against cat and cp -a of the same data, on btrfs and the scratch directory"};
  app.add_option("--size-mib", o.sizeMib, "size of the host's data in MiB")->capture_default_str();
  app.add_option("--databases", o.databases, "databases of the host")->capture_default_str();
  app.add_option("--rounds", o.rounds, "rounds per measurement (the best counts)")->capture_default_str();
  app.add_option("--workdir", o.workdir, "scratch directory (emptied first)")->capture_default_str();
  app.add_option("--bin", o.bin, "directory of arkserver, arkctl, dominosim and nserver (default: beside this program)");
  app.add_option("--results", o.results, "the results file (default: bench/RESULTS.md of the source tree)");
  app.add_flag("!--no-btrfs", o.btrfs, "leave out both places on btrfs");
  app.add_flag("!--warm", o.cold, "keep the page cache between measurements");
  app.add_flag("!--no-scratch", o.scratch, "leave out the dir backend on the scratch directory's file system");
  CLI11_PARSE(app, argc, argv);
  if (o.bin.empty()) o.bin = fs::canonical("/proc/self/exe").parent_path().string();
  if (o.results.empty()) o.results = std::string(ARK_SOURCE_DIR) + "/bench/RESULTS.md";
  std::error_code ignored;
  fs::remove_all(o.workdir, ignored);
  fs::create_directories(o.workdir);
  RunFacts facts = CollectFacts(o.workdir);
  facts.commandLine = "scripts/bench-drill";
  for (int i = 1; i < argc; ++i) facts.commandLine += std::string(" ") + argv[i];
  std::vector<Place> places;
  if (o.btrfs) {
    BtrfsImage image(o.workdir + "/btrfs.img", o.workdir + "/btrfs", std::uint64_t(o.sizeMib * 4 + 1024) << 20);
    for (const char* backend : {"btrfs", "dir"}) {
      Place p;
      p.name = std::string(backend) + " backend";
      Say(p.name + " on btrfs");
      if (!image.mounted()) p.note = "skipped: " + image.why();
      else Measure(o, o.workdir + "/btrfs/" + backend, backend, p);
      fs::remove_all(o.workdir + "/btrfs/" + backend, ignored);
      places.push_back(p);
    }
  }
  if (o.scratch) {
    Place p;
    p.name = "dir backend";
    Say(p.name + " on the scratch directory");
    Measure(o, o.workdir + "/scratch", "dir", p);
    places.push_back(p);
  }
  const std::string section = Section(o, facts, Capture("cut -d' ' -f1-3 /proc/loadavg"), places);
  ReplaceSection(o.results, "bench-drill", section, false);
  Say("\n" + section + "\nwritten to " + o.results);
  fs::remove_all(o.workdir, ignored);
  return 0;
}
