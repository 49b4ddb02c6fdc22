// Checks that the transaction logs an up-to-the-minute restore of a snapshot
// needs from the server's ArkLedger directory are there and belong to the
// snapshot's log series.
#pragma once

#include <string>
#include <vector>

#include "common/output_sink.h"
#include "platform/win_types.h"
#include "verify/verdict.h"

struct LogChainInput {
  std::string serverLedger;    // the server's ArkLedger directory, ending in "\"
  std::string snapshotLedger;  // the snapshot's own ArkLedger directory
  // ArkLedger directories of every newer snapshot of the server. With the
  // snapshot's own, their "logs\" folders bound the logs that must be saved;
  // a log_hint of another series among them means the log series changed
  // after the backup.
  std::vector<std::string> newerLedgers;
  DWORD firstLog = 0;          // the log extent of the snapshot's log_hint (0 counts as 1)
  std::string logSeries;       // the snapshot's log series
};

// Every log from firstLog up to the newest one saved in the "logs\" folders
// of the snapshot's and the newer ledgers must be found as a restore finds
// it: the first existing file of that name under the server's ArkLedger
// directory, whose snapshot's log_hint has the same series. Writes the
// findings through out and downgrades the verdict to point in time at the
// first fault: a series change, a log missing or of another series.
void CheckLogChain(OutputSink& out, const LogChainInput& input, SnapshotVerdict& verdict);

// The log number that a saved log's file name ("S%07d.TXN", any letter case)
// stands for; false for any other name.
bool ParseLogFileName(const std::string& fileName, DWORD& number);
