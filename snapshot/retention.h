// Deleting a server's snapshots beyond a kept number.
#pragma once

#include <cstdint>
#include <string>

#include "common/records.h"

namespace ark {

// Deletes the server's snapshots beyond the newest `keep`; `deleted` counts
// those the component no longer lists afterwards. A snapshot still listed
// keeps its ArkLedger directory and is named in a WARNING and a warning
// event. -1 when the component cannot be reached or enumerated, or an
// ArkLedger directory cannot be removed; else 0.
int DeleteExcessSnapshots(DominoServerInfo& server, const std::u16string& driveLetter,
                          std::uint32_t keep, std::int32_t& deleted);

}  // namespace ark
