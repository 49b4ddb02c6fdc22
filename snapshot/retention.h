// Deleting a server's snapshots beyond a kept number.
#pragma once

#include <cstdint>
#include <string>

#include "common/records.h"

int DeleteExcessSnapshots(DominoServerInfo& server, const std::u16string& driveLetter,
                          std::uint32_t keep, std::int32_t& deleted);
