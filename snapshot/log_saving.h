// Saving the transaction logs of a snapshot's ArkLedger directory that a
// newer snapshot still needs, before the directory is removed.
#pragma once

#include <string>
#include <vector>

#include "common/output_sink.h"
#include "platform/win_types.h"

namespace ark::snapshot {

// One log_hint file: its path and the first log that its snapshot needs.
struct LogReference {
  std::string hintPath;
  DWORD firstLog = 0;
};

// One entry per log_hint file found below directory (ending in "\"), in the
// order of a depth-first walk that skips subdirectories beginning with ".".
std::vector<LogReference> ReadLogReferences(const std::string& directory);

// The time of the snapshot whose ArkLedger directory this is: the time stamp
// after the last "__" of the directory's name, or, for the recent snapshot,
// the one of the dated name held in its snapshot_time_date file. A
// local-time FILETIME (see ReadTimeStamp); false when the directory carries
// no readable snapshot time.
bool SnapshotTimeOfDirectory(const std::string& directory, FILETIME& time);

// Moves each log file below ledgerDirectory into the logs\ folder of the
// first referenced snapshot that is newer and whose first needed log is not
// above the log's number, writing one message per move.
void SaveNeededLogs(OutputSink& out, const std::string& ledgerDirectory,
                    const std::vector<LogReference>& references);

}  // namespace ark::snapshot
