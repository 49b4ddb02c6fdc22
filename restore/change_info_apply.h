// Applying the change information recorded at backup time to the restored
// databases, so that each becomes consistent before recovery runs.
#pragma once

#include <string>
#include <vector>

#include "backup/database_backup.h"
#include "common/records.h"

namespace ark {

// Size of the blocks in which change data is handed to the runtime.
constexpr std::size_t kChangeInfoBlockSize = 32768;

// For every database that has a change-information file under
// changeInfoDirectory, feeds the file to the runtime for the database at the
// drive driveText ("D:"). A database without a file is skipped. 0 when all
// were applied (each non-empty one says "Applied N bytes to ..."), -1 at the
// first failure (a file that exists but cannot be opened or read, one shorter
// than its 8-byte header, a runtime status other than NOERROR), after one
// message printed through request.output; the databases before it keep what
// was applied to them. Records each file's header size and the runtime's last
// status in its entry. On a failure after the runtime began applying to a
// database (ApplyChangeInfoStart), ApplyChangeInfoEnd is not called: the
// runtime's apply context for it stays open. No file stays open.
int ApplyChangeInformation(RestoreRequest& request, std::vector<DatabaseEntry>& databases,
                           const std::string& changeInfoDirectory, const std::string& driveText);

// The same for one database: the change-information file at filePath fed to
// the runtime for the database at target (a copy at any path). 0 also when
// there is no such file; -1 after the failure message.
int ApplyChangeInformationFile(RestoreRequest& request, DatabaseEntry& entry, const std::string& filePath,
                               const std::string& target);

}  // namespace ark
