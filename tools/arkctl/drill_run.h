// A restore drill of one server's snapshot (command 18), shared by `drill`
// and `backup --drill`.
#pragma once

#include <string>

#include "tools/arkctl/ctl_context.h"

namespace ark {

struct DrillArgs {
  std::string server;
  std::string snapshot;  // "": the newest
  std::string scratch;   // "": a clone, else below the ArkLedger root
  bool keep = false;
};

// Runs the drill and shows its text as it arrives (with --json: to standard
// error, and one JSON object with each database's result and the totals to
// standard output). Raises CtlError(kExitServiceRefused) when it did not pass.
void RunDrill(const CtlContext& context, const DrillArgs& args);

}  // namespace ark
