#include "bench/restoredb/restore_db_section.h"

#include <cstdio>

namespace ark {

namespace {

std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string Seconds(double s) { return s < 0 ? "-" : Format(s < 10 ? "%.2f" : "%.1f", s); }

std::string Ratio(double value, double base) { return value < 0 || base <= 0 ? "-" : Format("%.2fx", value / base); }

std::string Where(const PlaceFigures& f) { return f.name + " on " + (f.fileSystem.empty() ? "?" : f.fileSystem); }

std::string RatioTable(const std::vector<PlaceFigures>& places) {
  std::string t =
      "| Place | 1 GiB, snapshot's time, vs cp | 1 GiB, up to the minute, vs cp | 1 GiB vs plain cp | "
      "folder vs cp -a |\n|---|---:|---:|---:|---:|\n";
  for (const PlaceFigures& f : places) {
    if (!f.note.empty()) {
      t += "| " + Where(f) + " | " + f.note + " | | | |\n";
      continue;
    }
    t += "| " + Where(f) + " | " + Ratio(f.one, f.cpCopy) + " | " + Ratio(f.oneMinute, f.cpCopy) + " | " +
         Ratio(f.one, f.cpDefault) + " | " + Ratio(f.folder, f.cpFolder) + " |\n";
  }
  return t;
}

std::string SecondsTable(const std::vector<PlaceFigures>& places) {
  std::string t =
      "| Place | 1 GiB restore-db (s) | up to the minute (s) | cp --reflink=never (s) | plain cp (s) | "
      "folder restore-db (s) | cp -a --reflink=never (s) |\n|---|---:|---:|---:|---:|---:|---:|\n";
  for (const PlaceFigures& f : places) {
    if (!f.note.empty()) continue;
    t += "| " + Where(f) + " | " + Seconds(f.one) + " | " + Seconds(f.oneMinute) + " | " + Seconds(f.cpCopy) + " | " +
         Seconds(f.cpDefault) + " | " + Seconds(f.folder) + " | " + Seconds(f.cpFolder) + " |\n";
  }
  return t;
}

std::string SharedList(const std::vector<PlaceFigures>& places) {
  std::string t;
  for (const PlaceFigures& f : places) {
    if (f.note.empty() && f.reflinkedShare >= 0) {
      t += "- " + Where(f) + ": " + Format("%.1f", f.reflinkedShare * 100) +
           " % of the restored copy's extents are shared with the snapshot (`btrfs filesystem du`)\n";
    }
  }
  return t;
}

}  // namespace

std::string RestoreDbSection(const BenchFacts& facts, const std::vector<PlaceFigures>& places) {
  const RunFacts& m = facts.machine;
  return std::string("## Restoring single databases against cp\n\nMeasured ") + m.date +
         " with `" + m.commandLine + "`.\n\n" + RatioTable(places) +
         "\nRatios are against copies measured in the same run, best of " + std::to_string(facts.rounds) +
         " rounds each. \"cp\" is `cp --reflink=never` of the live database file and `sync -f` of the copy (a "
         "real copy); \"plain cp\" is `cp` as it runs by default (coreutils reflinks where the file system "
         "can). The folder is measured against `cp -a --reflink=never` of the live folder."
         " restore-db does not flush its copies to the disk before it ends, where every cp is followed by `sync -f`: on btrfs a reflinked copy has next to nothing to write back, on ext4 the writeback of the copy is left out of restore-db's time.\n\n" +
         SecondsTable(places) + "\n" + SharedList(places) +
         "\n- Hosts: `dominosim install --databases 1 --unlogged 0 --size-mib " + Format("%.0f", facts.sizeMib) +
         "` (the database `" + facts.database + "`) and `dominosim install --databases " +
         std::to_string(5 + 3 * facts.folderDatabases) + " --unlogged 0` with " +
         Format("%.0f", facts.folderMib / facts.folderDatabases) + " MiB a database (the folder `" + facts.folder +
         "`: " + std::to_string(facts.folderDatabases) + " databases), archive logging. Each got `arkctl backup "
         "srv1`, then " +
         std::to_string(facts.transactions) +
         " transactions of `nserver`; the server rests while the restores run.\n"
         "- Timed: `arkctl restore-db srv1 " +
         facts.database + " --yes` (into `restore\\`, to the snapshot's time), the same with "
         "`--up-to-the-minute`, and `arkctl restore-db srv1 " +
         facts.folder +
         " --yes`, end to end (the restore folder emptied before each).\n"
         "- btrfs: a loop-mounted image on the scratch directory's file system; the btrfs backend's snapshot is "
         "a read-only subvolume, the dir backend's a tree of reflinks (FICLONE). The scratch directory's file "
         "system has no reflinks: there the dir backend's snapshot and every copy are full copies.\n"
         "- Machine: " +
         m.cpu + ", " + m.nproc + " processors, " + m.memory + ", " + m.kernel + "; scratch directory on " +
         m.fileSystem + ". Load averages (1, 5, 15 minutes): " + m.load + " when the run began, " + facts.loadAtEnd +
         " when it ended (the machine was shared with other work; ratios come from one run, so they share its "
         "conditions). Caches were warm.\n";
}

}  // namespace ark
