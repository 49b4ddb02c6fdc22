// Verifying snapshots (command 16), for verify and for a backup that is
// followed by the check of its snapshot.
#pragma once

#include <string>

#include "tools/arkctl/ctl_context.h"

namespace ark {

// Asks the service whether the server's snapshots (or the one named) can be
// restored and shows the findings as they arrive; raises
// CtlError(kExitServiceRefused) when one cannot be restored or nothing could
// be verified.
void VerifySnapshots(const CtlContext& context, const std::string& server, const std::string& snapshot);

// The same for the server's newest snapshot (its "recent" one).
void VerifyNewestSnapshot(const CtlContext& context, const std::string& server);

}  // namespace ark
