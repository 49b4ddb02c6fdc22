// A restore drill: every database of a snapshot restored aside, while the
// server runs, and read whole, to prove that the snapshot restores.
#pragma once

#include <cstdint>
#include <string>

#include "common/records.h"

namespace ark {

struct DrillRequest {
  OutputSink output;  // does not travel
  DominoServerInfo server;
  std::string snapshotName;  // "": the newest complete snapshot of the server
  std::string scratch;       // "": a clone of the snapshot, else a folder below the ArkLedger root
  bool keep = false;         // the restored databases stay (and are named)
};

// The whole drill, for command 18. Takes the operation lock and starts the
// runtime; refuses (with its reason) a scratch folder on the server's data
// volume or not a folder with a drive, an unknown or unfinished snapshot,
// too little free space for the copies. Works in a writable clone of the
// snapshot that the component makes beside it, or, where it cannot, in
// copies in <scratch or ArkLedger root\$drill>\<server>\<yyyymmdd-hhmmss>.
// For each database: its change information applied (one listed by the
// backup but missing or of another size fails the database), recovered to
// the snapshot's time with a new instance id, then opened and every note
// read. One line per database ("mail\a.nsf: sound, N notes read" or
// "mail\a.nsf: <why>"), progress on a long drill, and the last line
// "DRILL PASSED: N of N databases restored and sound in S s" or "DRILL
// FAILED: K of N databases restored and sound; the others are listed
// above". The clone or folder is removed at the end unless keep (then
// named). Nothing live changes. An event (information when it passed, a
// warning when not). 0 when it passed, else -1.
std::int32_t PerformDrill(DrillRequest& request);

}  // namespace ark
