// Reverting a volume to a snapshot.
#pragma once

#include <string>

#include "common/records.h"

namespace ark {

// Has the snapshot component revert the volume of the drive (the first
// character of driveLetter) to the named snapshot (the name cut to 255
// characters). 0 when the component answers S_OK or E_HANDLE; -1 otherwise,
// with the reason appended to errorText and put into request.output.message:
// written through request.output only when the component could not be
// reached, left to the caller to report when the component refused the
// revert. The component is released on return.
int RestoreVolumeSnapshot(RestoreRequest& request, const std::u16string& driveLetter,
                          const std::u16string& snapshotName, std::string& errorText);

}  // namespace ark
