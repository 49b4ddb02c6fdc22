// The local creation time of a snapshot and its time-stamp text, shared by
// the name builders and the snapshot-time readers.
#pragma once

#include <string>

#include "platform/win_types.h"

namespace ark {

// The UTC creation time as local time (fields left 0 when the conversion fails).
SYSTEMTIME LocalCreationTime(const FILETIME& creationUtc);
// "%d-%d-%d_%d.%d.%d": month, day, year, hour, minute, second.
std::string TimeStampText(const SYSTEMTIME& localTime);

}  // namespace ark
