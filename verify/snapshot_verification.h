// Verification of a server's snapshots: whether each can be restored, and
// how far, judged from the storage's list of snapshots and from what the
// backups left in the ArkLedger directory. It changes nothing: no file is
// written, no snapshot touched and no Domino API call made.
#pragma once

#include <string>
#include <vector>

#include "common/output_sink.h"
#include "common/records.h"
#include "verify/verdict.h"

namespace ark {

// Verifies the snapshot of that name (compared ignoring case), or, when the
// name is empty, every snapshot of the server on its data volume: every
// snapshot whose name is the server's name prefix, "__", and "recent" or a
// time stamp. Writes the findings through out as whole messages, then one
// verdict line per snapshot (SnapshotVerdict::Line), and returns the
// verdicts in that order (a named snapshot that the storage does not list
// gets a verdict too). Returns no verdict (after saying so) only when the
// name is empty and no snapshot of the server can be found; when the storage
// cannot be listed, the snapshots the server record names are judged. Faults (the
// server not in archive mode, CHANGE_INFO_DIR unset, the snapshot component
// missing or failing) are written and lower the verdicts; nothing is raised.
// Holds nothing afterwards.
std::vector<SnapshotVerdict> VerifySnapshots(OutputSink& out, const DominoServerInfo& server,
                                             const std::string& snapshotName);

// True when text is a snapshot time stamp: "%d-%d-%d_%d.%d.%d" (digits only,
// no sign).
bool IsSnapshotTimeStamp(const std::string& text);

}  // namespace ark
