// Applying the change information recorded at backup time to the restored
// databases, so that each becomes consistent before recovery runs.
#pragma once

#include <string>
#include <vector>

#include "backup/database_backup.h"
#include "common/records.h"

// Size of the blocks in which change data is handed to the runtime.
constexpr std::size_t kChangeInfoBlockSize = 32768;

// For every database that has a change-information file under
// changeInfoDirectory, feeds the file to the runtime for the database at the
// drive driveText ("D:"). 0 when all were applied, -1 at the first failure
// (one message printed through request.output).
int ApplyChangeInformation(RestoreRequest& request, std::vector<DatabaseEntry>& databases,
                           const std::string& changeInfoDirectory, const std::string& driveText);
