// The state behind platform::FlushOverride, shared by both implementations
// of the files surface.
#pragma once

#include <string>

#include "platform/win_types.h"

namespace platform::shared {

// True, with the override's answer, while a FlushOverride lives.
bool FlushOverridden(const std::string& winPath, DWORD& answer);

// The directory part of a Windows path, without its trailing separators
// ("D:\" for a file in a drive's root): the path a flush of the names of
// winPath's directory is answered under.
std::string WinDirName(const std::string& winPath);

}  // namespace platform::shared
