// Windows paths as both implementations read them, so that every system
// refuses and accepts the same paths.
#pragma once

#include <string_view>
#include <vector>

#include "platform/win_types.h"

namespace platform::shared {

// The names of a Windows path of the form "X:..." after its drive
// ("D:\a\\b\" -> "a", "b"; either separator, doubled and trailing ones
// dropped). ERROR_PATH_NOT_FOUND without a drive, ERROR_INVALID_NAME for
// "." or ".." or a character Windows refuses in a name (wildcards, control
// characters, ':', '"', '<', '>', '|').
DWORD SplitWindowsPath(std::string_view winPath, std::vector<std::string_view>& names);

}  // namespace platform::shared
