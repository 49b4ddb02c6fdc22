#include "bench/compare/results_file.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "bench/compare/timed_command.h"

namespace ark {

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string Seconds(double s) { return Format(s < 10 ? "%.2f" : "%.1f", s); }

std::string Ratio(double value, double base) { return base > 0 ? Format("%.2fx", value / base) : "-"; }

const Measured* Find(const std::vector<Measured>& rows, const std::string& prefix) {
  for (const Measured& m : rows) {
    if (m.done && m.name.rfind(prefix, 0) == 0) return &m;
  }
  return nullptr;
}

std::string Table(const std::vector<Measured>& rows) {
  const Measured* cp = Find(rows, "cp -a");
  const double bb = cp ? cp->backup : 0, hb = cp ? cp->held : 0, rb = cp ? cp->restore : 0;
  std::string t =
      "| Method | Server during backup | Backup (s) | vs cp -a | Databases held / server down (s) | vs cp -a | "
      "Restore (s) | vs cp -a |\n"
      "|---|---|---:|---:|---:|---:|---:|---:|\n";
  for (const Measured& m : rows) {
    if (!m.done) {
      t += "| " + m.name + " | " + m.note + " | | | | | | |\n";
      continue;
    }
    t += "| " + m.name + " | " + (m.online ? "running, writing" : "stopped") + " | " + Seconds(m.backup) + " | " +
         Ratio(m.backup, bb) + " | " + Seconds(m.held) + " | " + Ratio(m.held, hb) + " | " + Seconds(m.restore) +
         " | " + Ratio(m.restore, rb) + " |\n";
  }
  return t;
}

std::string Headline(const RunFacts& facts, const std::vector<Measured>& rows) {
  const Measured* cp = Find(rows, "cp -a");
  const Measured* dir = Find(rows, "ark (directory");
  const Measured* btrfs = Find(rows, "ark (btrfs");
  if (cp == nullptr || dir == nullptr) return "(no headline: cp -a or ark's directory backend has no figures)";
  std::string text = "On a generated host of " + Format("%.0f", facts.sizeMib) + " MiB in " +
                     std::to_string(facts.databases) +
                     " databases, ark backs up while the Domino server keeps running and holds its databases in "
                     "backup mode for " +
                     Seconds(dir->held) + " s";
  if (btrfs != nullptr) text += " (" + Seconds(btrfs->held) + " s on btrfs)";
  text += ", where a cold copy with cp -a keeps the server down for " + Seconds(cp->held) + " s";
  if (dir->held > 0 && cp->held > dir->held) {
    text += " (" + Format("%.1f", cp->held / dir->held) + " times as long, and with no service at all)";
  } else if (cp->held > 0) {
    text += " (ark's hold is " + Format("%.1f", dir->held / cp->held) +
            " times as long, but the server serves and writes throughout)";
  }
  text += "; a whole ark backup takes " + Ratio(dir->backup, cp->backup) + " the time of cp -a and a restore " +
          Ratio(dir->restore, cp->restore);
  if (btrfs != nullptr) {
    text += " (btrfs: " + Ratio(btrfs->backup, cp->backup) + " and " + Ratio(btrfs->restore, cp->restore) + ")";
  }
  return text + ".";
}

}  // namespace

RunFacts CollectFacts(const std::string& workdir) {
  RunFacts f;
  f.date = Capture("date -u '+%Y-%m-%d %H:%M UTC'");
  f.cpu = Capture("grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'");
  f.nproc = Capture("nproc");
  f.memory = Capture("awk '/MemTotal/ {printf \"%.1f GiB\", $2/1048576}' /proc/meminfo");
  f.fileSystem = Capture("df -T " + Quote(workdir) + " | awk 'NR==2 {print $2 \" (\" $1 \")\"}'");
  f.kernel = Capture("uname -sr");
  f.load = Capture("cut -d' ' -f1-3 /proc/loadavg");
  return f;
}

std::string ToolVersions() {
  return Capture(
      "{ cp --version | head -1; tar --version | head -1; rsync --version 2>/dev/null | head -1;"
      " restic version 2>/dev/null; borg --version 2>/dev/null; } | sed 's/^/- /'");
}

void ReplaceSection(const std::string& path, const std::string& script, const std::string& text, bool atStart) {
  static const std::string kAnyStart = "<!-- written by scripts/";
  const std::string start = kAnyStart + script + " -->", end = "<!-- end of scripts/" + script + " -->";
  std::string file = ReadAll(path);
  std::size_t from = file.find(start), to = std::string::npos;
  if (from != std::string::npos) {
    const std::size_t endAt = file.find(end, from);
    if (endAt != std::string::npos) {
      to = endAt + end.size();
    } else {
      to = file.find(kAnyStart, from + start.size());
      if (to == std::string::npos) to = file.size();
    }
  } else if (atStart) {
    from = 0;
    to = file.find(kAnyStart);
    if (to == std::string::npos) to = file.size();
  } else {
    from = to = file.size();
  }
  // Sections are set apart by one empty line.
  while (to < file.size() && file[to] == '\n') ++to;
  while (from > 0 && file[from - 1] == '\n') --from;
  std::string body = text;
  while (!body.empty() && body.back() == '\n') body.pop_back();
  const std::string before = file.substr(0, from), after = file.substr(to);
  std::string out = before;
  if (!out.empty()) out += "\n\n";
  out += start + "\n\n" + body + "\n\n" + end + "\n";
  if (!after.empty()) out += "\n" + after;
  std::ofstream(path, std::ios::trunc) << out;
}

std::string WriteResults(const std::string& path, const RunFacts& facts, const std::vector<Measured>& rows) {
  const std::string table = Table(rows);
  const std::string headline = Headline(facts, rows);
  std::ostringstream out;
  out << "# ark against the usual backup tools\n\n"
      << "Measured " << facts.date << " with `" << facts.commandLine << "`.\n\n"
      << "**Headline:** " << headline << "\n\n"
      << "## Machine\n\n"
      << "- CPU: " << facts.cpu << ", " << facts.nproc << " processors available\n"
      << "- Memory: " << facts.memory << "\n"
      << "- File system of the scratch directory: " << facts.fileSystem << "\n"
      << "- Kernel: " << facts.kernel << "\n"
      << "- Load averages (1, 5, 15 minutes) when the run began: " << facts.load
      << " (other work may have shared the machine; ratios come from one run, so they share its conditions)"
      << (facts.loadAtEnd.empty() ? std::string() : "; " + facts.loadAtEnd + " when it ended") << "." << "\n\n"
      << "## Host\n\n"
      << "One server made by `dominosim install --databases " << facts.databases << " --size-mib "
      << Format("%.0f", facts.sizeMib)
      << "` (archive logging). Each method ran " << facts.rounds
      << " round(s); the best round counts. Every timed step, of every method alike, starts with the data on the disk: `sync`, then a "
         "settle of 2 s (ark's backup with the server already writing), so no method pays for the dirty pages that "
         "the host's generation or an earlier step left; the page cache stays warm.\n\n"
      << "## Results\n\n"
      << table << "\n"
      << "Ratios are against `cp -a` measured in the same run (below 1 is faster or shorter).\n\n"
      << "## What was measured\n\n"
      << "- **ark**: `arkserver` on the host, `nserver` writing " << facts.workloadRate
      << " transactions a second during the backup. Backup: `arkctl backup srv1`, whole run. Databases held: from "
         "the arrival of \"Recording Domino changes\" to \"Domino backup mode stop completed\" in the streamed "
         "output (every database is in backup mode in between; the server keeps serving). Restore: "
         "`arkctl restore srv1 recent --point-in-time --yes` of the stopped server (revert, change information, "
         "recovery).\n"
      << "- **Plain tools**, on the data directory of the stopped server (the server is down for the whole "
         "backup, so held = backup; stopping and starting the server are not counted); restores go into an "
         "empty directory, where ark reverts the volume in place and recovers the databases; every command ends "
         "with `sync -f` of its target:\n"
      << "  - `cp -a DATA WORK/copy`; restore `cp -a WORK/copy WORK/restore`\n"
      << "  - `tar -cf WORK/data.tar -C PARENT Data`; restore `tar -xf WORK/data.tar -C WORK/restore`\n"
      << "  - `rsync -a DATA/ WORK/copy/`; restore `rsync -a WORK/copy/ WORK/restore/`\n"
      << "  - `restic backup --no-cache --repo WORK/repo DATA` (fresh repository, password `bench`); restore "
         "`restic restore latest --target WORK/restore`\n"
      << "  - `borg create WORK/repo::data Data` (fresh repository, `-e none`); restore `borg extract` in "
         "WORK/restore\n\n"
      << "Versions:\n\n"
      << facts.versions << "\n";
  ReplaceSection(path, "bench-compare", out.str(), true);
  return table;
}

}  // namespace ark
