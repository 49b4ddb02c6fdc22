// The figures of the single-database restore benchmark and their section of
// bench/RESULTS.md.
#pragma once

#include <string>
#include <vector>

#include "bench/compare/results_file.h"

namespace ark {

// One file system and backend: the restores and their baselines.
struct PlaceFigures {
  std::string name;        // "btrfs backend", ...
  std::string fileSystem;  // what the hosts lie on
  std::string note;        // why it has no figures
  // Seconds, best of the rounds; below 0 when not measured.
  double one = -1;         // one database, the snapshot's time
  double oneMinute = -1;   // the same, up to the minute
  double cpCopy = -1;      // cp --reflink=never of that file
  double cpDefault = -1;   // cp of that file, as cp does by default
  double folder = -1;      // the folder of databases
  double cpFolder = -1;    // cp -a --reflink=never of that folder
  double reflinkedShare = -1;  // of the restored 1 GiB copy's extents, the share still shared
};

struct BenchFacts {
  RunFacts machine;
  std::string loadAtEnd;
  double sizeMib = 0;       // the one database
  int folderDatabases = 0;  // in the folder
  double folderMib = 0;     // the folder's data
  int transactions = 0;     // written after the backup
  int rounds = 0;
  std::string database;     // its path in the data directory
  std::string folder;
};

// The section's text (ReplaceSection adds its marker lines).
std::string RestoreDbSection(const BenchFacts& facts, const std::vector<PlaceFigures>& places);

}  // namespace ark
