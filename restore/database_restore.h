// The restore of single databases from a snapshot while the server runs:
// each copied out of the snapshot to a folder below the data directory (or
// in place of the live database), its change information applied, and
// recovered to a moment with a new instance id.
#pragma once

#include <cstdint>

#include "common/records.h"

namespace ark {

// The whole run, for command 17. Refuses before anything is written (each
// with its reason): a path, folder or moment that cannot be read, a target
// or placement outside the known values, a moment in the future or before
// the server's oldest usable snapshot, a snapshot that is unknown or whose
// ArkLedger directory is incomplete, a moment the transaction logs do not
// reach (naming the first missing log), a path the snapshot does not hold,
// a target file that exists, too little free space on the data drive, a
// snapshot component that cannot show a snapshot's files, the operation lock
// held elsewhere, a runtime that cannot start. Otherwise restores each
// database, prints where each went and to which moment, and ends with
// "DATABASE RESTORE COMPLETE: N databases restored." or "DATABASE RESTORE
// FAILED: ..." naming every database not restored (the others stay
// restored). In place, the live database is first kept (through backup
// mode) as restore\<path>-before-restore; when a step after it fails, the
// live database is put back as it was and online. On every way out no
// temporary copy stays behind, the runtime is ended and the lock released;
// the outcome goes to the event log (category 2). 0 when every database was
// restored, else -1.
std::int32_t PerformDatabaseRestore(DatabaseRestoreRequest& request);

}  // namespace ark
