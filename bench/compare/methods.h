// The ways of backing up a Domino data directory that the comparison
// measures: ark itself (online, per snapshot backend) and the plain tools
// run on a stopped server.
#pragma once

#include <string>
#include <vector>

namespace ark {

// One plain tool: shell commands with {DATA} (the data directory), {PARENT}
// (its parent), {NAME} (its last component) and {WORK} (the method's own
// scratch directory) put in. prepare* run untimed before the timed steps.
struct ToolMethod {
  std::string name;           // as the table shows it
  std::string program;        // what must be installed (checked with command -v)
  std::string prepareBackup;  // e.g. create an empty repository
  std::string backup;
  std::string prepareRestore;
  std::string restore;        // into {WORK}/restore
};

std::vector<ToolMethod> ToolMethods();

// The command with its placeholders put in.
std::string Expand(std::string command, const std::string& data, const std::string& work);

struct Measured {
  std::string name;
  bool done = false;
  std::string note;       // why a method has no figures
  double backup = 0;      // seconds, best round
  double held = 0;        // databases in backup mode (ark) or server stopped (the others)
  double restore = 0;     // seconds, best round
  bool online = false;    // the server kept running during the backup
};

}  // namespace ark
