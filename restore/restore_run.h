// The restore run of one server.
#pragma once

#include <string>

#include "common/records.h"

namespace ark {

// The whole restore: empties the report text, takes the machine-wide
// operation lock, starts the Domino runtime for the server's notes.ini, runs
// RestoreSnapshotAndRecover and writes the outcome to the event log (category
// 2, 0x4000006F or, with the reason, 0x4000006D). Returns 0; -1 when the lock
// is held elsewhere (after the lock's message and "ERROR: Restore aborted.
// ...") or the run failed (after its errorText, printed at the end: a
// message the run printed already then appears twice); or the runtime's status when it cannot start (after "ERROR: Could not
// initialize notes runtime. ..."). On every way out the runtime is ended and
// the lock released. A std::exception from the run is written to the event
// log and raised again.
std::int32_t PerformRestore(RestoreRequest& request);

// The restore sequence with the runtime started and the lock held: refuses
// while Domino runs or without archive logging, checks the ArkLedger
// (location, the snapshot's directory, disabled_databases, change_info_list)
// and, up to the minute, the logs it needs, all before the volume is touched;
// then keeps the active logs aside when the revert would take them, reverts
// the volume, puts the logs back, applies the change information and
// recovers. 0, or -1 with errorText set: most failures have printed that text
// already (the refusals while Domino runs or without archive logging, and a
// revert that the component refused, have not). Logs copied in for recovery are
// removed on every way out; after a failure once the revert has started, the
// folder keeping the active logs stays and errorText names it.
int RestoreSnapshotAndRecover(RestoreRequest& request, std::string& errorText);

}  // namespace ark
