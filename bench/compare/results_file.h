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
  std::string loadAtEnd;   // and when it ended ("" when not taken)
  std::string versions;    // of the plain tools
  std::string commandLine;
  double sizeMib = 0;
  int databases = 0;
  int rounds = 0;
  double workloadRate = 0;  // nserver's transactions a second during ark's backups
};

RunFacts CollectFacts(const std::string& workdir);
std::string ToolVersions();

// Each script that measures writes its own section of RESULTS.md, between
// "<!-- written by scripts/NAME -->" and "<!-- end of scripts/NAME -->",
// and leaves the others' sections as they are. ReplaceSection puts text in
// place of the script's section; a file without it gets it at its start
// (atStart: before every other section, in place of unmarked text there)
// or at its end. A section with no end line (as written before there were
// any) runs to the next section or to the end of the file.
void ReplaceSection(const std::string& path, const std::string& script, const std::string& text, bool atStart);

// Writes bench-compare's section of the file; returns the table.
std::string WriteResults(const std::string& path, const RunFacts& facts, const std::vector<Measured>& rows);

}  // namespace ark
