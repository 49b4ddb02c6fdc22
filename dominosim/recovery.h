// Roll-forward of databases from the transaction log.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "platform/win_types.h"

namespace dominosim {

class TxnLog;

struct RecoveryTarget {
  std::string name;       // as the caller named it (printed)
  std::string hostPath;
  char volumeDrive = 0;
  STATUS pathStatus = 0;  // non-zero: the name could not be turned into a path
};

// What the recovered databases become.
struct RecoveryOptions {
  bool toMoment = false;        // apply only the transactions committed before moment
  std::uint64_t moment = 0;     // FILETIME (UTC)
  bool newInstanceId = false;   // each recovered database gets a new instance id
  bool newReplicaId = false;    // ... and a new replica id in its database record
};

struct RecoveryResult {
  STATUS status = 0;
  WORD failingPosition = 0;  // 1-based position of the database at fault, 0: none
  std::uint64_t lastCommit = 0;  // the latest commit time in any recovered database (0: none known)
};

// Asked for an extent that is missing from the log directory; may place it
// (and the ones after it) there.
using FetchExtentFn = std::function<void(std::uint32_t number)>;

// Replays, for each target, every whole transaction of the log newer than
// the database's last applied one, in order across extents, matching records
// to databases by the instance id in their headers (so a copy at another
// path recovers as its original would). With options.toMoment the replay
// ends at the first transaction committed at or after the moment. Nothing is
// written before every database is found sound and every needed extent is
// present and sound:
//   a database that cannot be opened or is damaged: its status and position;
//   a database that is not logged: ERR_DB_NOT_LOGGED and its position;
//   a database of another log: ERR_DB_OTHER_LOG and its position;
//   a database holding a transaction committed at or after the moment:
//     ERR_LATE_BACKUP and its position;
//   an extent still missing after fetch: ERR_LOGS_MISSING, position 0;
//   a damaged or foreign extent: ERR_LOG_CORRUPT / ERR_LOG_FOREIGN, position 0.
// The extents are read as they are while the server appends to the log: a
// transaction still being written, or torn, ends the replay cleanly. Progress
// goes to out.
RecoveryResult RecoverDatabases(const std::vector<RecoveryTarget>& targets, TxnLog& log,
                                const std::string& stateDir, const FetchExtentFn& fetch,
                                std::FILE* out, const RecoveryOptions& options = {});

}  // namespace dominosim
