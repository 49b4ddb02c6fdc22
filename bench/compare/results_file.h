// The comparison's results as a Markdown file: the machine, the commands,
// the table of times and ratios, and one headline sentence.
#pragma once

#include <string>
#include <vector>

#include "bench/compare/methods.h"

namespace ark {

struct RunFacts {
  std::string date;
  std::string cpu;
  std::string nproc;
  std::string memory;
  std::string fileSystem;  // of the scratch directory
  std::string kernel;
  std::string load;        // load averages when the run began
  std::string versions;    // of the plain tools
  std::string commandLine;
  double sizeMib = 0;
  int databases = 0;
  int rounds = 0;
  double workloadRate = 0;  // nserver's transactions a second during ark's backups
};

RunFacts CollectFacts(const std::string& workdir);
std::string ToolVersions();

// The single-database restore benchmark's section of RESULTS.md starts with
// this line and runs to the end of the file: WriteResults keeps it, and
// WriteSection replaces it.
extern const char* const kRestoreDbMarker;
// The text of the file from the line `marker` on; "" when it has none.
std::string SectionOf(const std::string& path, const std::string& marker);
// Puts text (starting with the marker line) in place of the file's section
// from `marker` on, or after what the file holds when it has none.
void WriteSection(const std::string& path, const std::string& marker, const std::string& text);

// Writes the file (keeping the restore-db section); returns the table.
std::string WriteResults(const std::string& path, const RunFacts& facts, const std::vector<Measured>& rows);

}  // namespace ark
