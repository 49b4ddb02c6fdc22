// The comparison's results as a Markdown file: the machine, the commands,
// the table of times and ratios, and one headline sentence.
#pragma once

#include <string>
#include <vector>

#include "bench/compare/methods.h"

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

// Writes the file; returns the table.
std::string WriteResults(const std::string& path, const RunFacts& facts, const std::vector<Measured>& rows);
