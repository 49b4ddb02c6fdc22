// The texts of the event identifiers (what a message file holds on Windows).
#pragma once

#include <string>
#include <vector>

#include "platform/win_types.h"

namespace platform::posix {

// The event's text with %1, %2 ... replaced by the insertion strings (%% is
// a percent sign). An identifier without a text lists its strings.
std::string EventMessageText(DWORD eventId, const std::vector<std::string>& strings);

// "Backup", "Restore", "Service"; empty for another category.
std::string EventCategoryText(WORD category);

// "Error", "Warning", "Information", ...
std::string EventTypeName(WORD type);

}  // namespace platform::posix
