// Domino recovery of the restored databases: point in time (each database
// opened and its database record rewritten) or up to the minute (the
// runtime replays the transaction logs, dropping a database that it names as
// failing and trying again). The runtime takes the list in one buffer of
// kRecoveryListBuffer bytes: a longer list is recovered in batches that each
// fit, one after the other.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "backup/database_backup.h"
#include "common/records.h"
#include "domino/domino_api.h"

namespace ark {

constexpr std::size_t kRecoveryListBuffer = 65536;

// With a time text: the point-in-time treatment, always 0: a database that
// cannot be opened or whose record cannot be read is skipped silently, and
// nothing is printed. Without: up-to-the-minute recovery, run after run, 0 on
// success (also when databases the runtime named as failing were dropped,
// each with a WARNING) or the runtime's last non-zero status, which stops the
// later runs; its messages are printed through request.output, with the
// runtime's own standard output. Makes the request the current one for the
// archived-log call-back while it runs; holds nothing afterwards.
int RecoverDatabases(RestoreRequest& request, const std::vector<DatabaseEntry>& databases,
                     const std::optional<std::string>& timeText,
                     const std::vector<std::string>& disabled);

// One recovery call with standard output captured into request.output.
// failingPosition: 1-based position of the database the runtime names as
// failing, 0 when none. Returns the runtime's status; a non-zero one has been
// printed ("ERROR: " + its text, after "RECOVERY FAILED: All log files could
// not be found." for ERR_LOGS_MISSING). The capture has ended on return.
STATUS RunDominoRecovery(RestoreRequest& request, const std::vector<char>& packedList,
                         WORD& failingPosition);

// The databases that recovery rolls forward, in order: all but log.nsf,
// templates (.ntf) and the disabled databases (paths compared without case).
std::vector<std::string> BuildRecoveryList(const std::vector<DatabaseEntry>& databases,
                                           const std::vector<std::string>& disabled);

// Each path followed by a NUL, the whole followed by one more NUL; sized to
// fit (at least two bytes), so no list is ever cut.
std::vector<char> PackRecoveryList(const std::vector<std::string>& paths);

// The recovery list in runs, in order, each of whose packed form fits
// kRecoveryListBuffer bytes (a path too long to fit any buffer is a run of
// its own, which the runtime refuses). An empty list is one empty run.
std::vector<std::vector<std::string>> SplitRecoveryList(const std::vector<std::string>& paths);

}  // namespace ark
