// Checks that the transaction logs an up-to-the-minute restore of a snapshot
// needs from the server's ArkLedger directory are there and belong to the
// snapshot's log series.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/output_sink.h"
#include "platform/win_types.h"
#include "verify/verdict.h"

namespace ark {

// The saved logs under a server's ArkLedger directory as a restore finds
// them: for each log number, the first existing file of that name in the
// order of FindTransactionLogs, and the log series of the snapshot whose
// "logs\" folder holds it. Listed once, used for every snapshot of a run.
class SavedLogIndex {
 public:
  struct SavedLog {
    std::string path;
    std::string ledger;  // the ArkLedger directory whose log_hint tells its series
  };
  // Lists the logs now; a directory that cannot be listed adds none. Writes
  // nothing.
  explicit SavedLogIndex(const std::string& serverLedger);
  const std::map<DWORD, SavedLog>& logs() const { return logs_; }
  // The series of a ledger's log_hint; empty when it is missing or has none.
  // Read once per ledger, then remembered.
  const std::string& SeriesOf(const std::string& ledger);
  // The highest log number in a ledger's "logs\" folder; none when it holds
  // no log or cannot be listed. Remembered per ledger.
  std::optional<DWORD> NewestIn(const std::string& ledger);

 private:
  std::map<DWORD, SavedLog> logs_;
  std::map<std::string, std::string> series_;
  std::map<std::string, std::optional<DWORD>> newest_;
};

struct LogChainInput {
  std::string serverLedger;    // the server's ArkLedger directory, ending in "\"
  std::string snapshotLedger;  // the snapshot's own ArkLedger directory
  // ArkLedger directories of every newer snapshot of the server. With the
  // snapshot's own, their "logs\" folders bound the logs that must be saved;
  // a log_hint of another series among them means the log series changed
  // after the backup.
  std::vector<std::string> newerLedgers;
  DWORD firstLog = 0;     // the log extent of the snapshot's log_hint (0 counts as 1)
  std::string logSeries;  // the snapshot's log series
};

// Every log from firstLog up to the newest one saved in the "logs\" folders
// of the snapshot's and the newer ledgers must be found as a restore finds
// it: the first existing file of that name under the server's ArkLedger
// directory, whose snapshot's log_hint has the same series. Writes the
// findings through out and downgrades the verdict to point in time at the
// first fault: a series change, a log missing or of another series. Only the
// first few faults are written in full, then their count. Never fails.
void CheckLogChain(OutputSink& out, const LogChainInput& input, SavedLogIndex& saved,
                   SnapshotVerdict& verdict);

}  // namespace ark
