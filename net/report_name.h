// Report names that come from the network name a file inside one type's
// folder and nothing else.
#pragma once

#include <string_view>

// False for an empty name, "." and "..", and a name holding "\", "/", ":"
// or a zero byte.
bool IsSafeReportName(std::string_view name);
