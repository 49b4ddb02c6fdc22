// The snapshot cycle around a backup, and taking one snapshot.
#pragma once

#include <functional>
#include <string>

#include "common/records.h"

namespace ark {

// The Domino side of a backup, which the backup hands to the cycle: the
// cycle knows the snapshot component and the ArkLedger directories, the
// steps know Domino.
struct BackupSteps {
  // Run between the rename of the recent snapshot and the rewrite of the hint
  // file, with the recent snapshot's ArkLedger directory (ledger, created),
  // the drive (its first character is the letter) and the recent name: puts
  // the databases into backup mode, has the component take the snapshot of
  // that name (TakeSnapshot), writes the change information and the hint
  // files below ledger and ends backup mode. 0, or -1 after its message
  // through request.output; no database stays in backup mode either way.
  std::function<int(BackupRequest& request, DominoServerInfo& server, const std::string& ledger,
                    const std::u16string& drive, const std::u16string& name)>
      backupMode;
  // Run after the hint file has been rewritten: archives the finished
  // transaction logs into ledger's logs\ folder. Its result is not looked at
  // (a log not archived waits for the next backup); empty: none is archived.
  std::function<void(BackupRequest& request, const std::string& ledger)> archiveLogs;
};

// One snapshot cycle of a backup of server on its data volume's drive
// (driveLetter, first character): creates the recent snapshot's ArkLedger
// directory, refuses at 255 snapshots on the volume (warns at 254 unless
// excess snapshots are to be deleted), renames the recent snapshot and its
// ArkLedger directory to the dated name (writing the dated name into the
// hint file first), runs steps.backupMode, rewrites the hint file, runs
// steps.archiveLogs and writes the dated name the new snapshot will get into
// its snapshot_time_date. 0, or -1 after its message through server.output
// (a failed rename gives the snapshot its recent name back); holds nothing
// on return (the component is released).
int RunSnapshotCycle(const std::u16string& driveLetter, BackupRequest& request,
                     DominoServerInfo& server, const BackupSteps& steps);
// Has the component take a snapshot of the drive (the first character of
// driveLetter) under name. 0 only when the component answers exactly S_OK;
// else -1 with errorText set to why (the component could not be reached, or
// its answer with the system's text for it), nothing written through Output.
int TakeSnapshot(const std::u16string& driveLetter, const std::u16string& name, std::string& errorText);
// Writes the dated name of the drive's recent snapshot of server into the
// recent ArkLedger directory's snapshot_time_date. 0 (also when the volume
// holds no recent snapshot: the file is left as it is), or -1 after its
// message through server.output when the component cannot be reached or
// enumerated or the directory does not exist, and -1 without one when the
// file cannot be written.
int RecordRecentSnapshotTime(const std::u16string& driveLetter, DominoServerInfo& server);

}  // namespace ark
