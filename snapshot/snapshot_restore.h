// Reverting a volume to a snapshot.
#pragma once

#include <string>

#include "common/records.h"

int RestoreVolumeSnapshot(RestoreRequest& request, const std::u16string& driveLetter,
                          const std::u16string& snapshotName, std::string& errorText);
