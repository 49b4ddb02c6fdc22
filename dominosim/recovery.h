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

struct RecoveryResult {
  STATUS status = 0;
  WORD failingPosition = 0;  // 1-based position of the database at fault, 0: none
};

// Asked for an extent that is missing from the log directory; may place it
// (and the ones after it) there.
using FetchExtentFn = std::function<void(std::uint32_t number)>;

// Replays, for each target, every log record newer than the database's last
// applied one, in order across extents. Nothing is written before every
// database is found sound and every needed extent is present and sound:
//   a database that cannot be opened or is damaged: its status and position;
//   a database that is not logged: ERR_DB_NOT_LOGGED and its position;
//   a database of another log: ERR_DB_OTHER_LOG and its position;
//   an extent still missing after fetch: ERR_LOGS_MISSING, position 0;
//   a damaged or foreign extent: ERR_LOG_CORRUPT / ERR_LOG_FOREIGN, position 0.
// A torn tail of the current extent ends the replay cleanly. Progress goes
// to out.
RecoveryResult RecoverDatabases(const std::vector<RecoveryTarget>& targets, TxnLog& log,
                                const std::string& stateDir, const FetchExtentFn& fetch,
                                std::FILE* out);

}  // namespace dominosim
