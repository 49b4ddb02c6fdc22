// Processes.
#pragma once

#include <string>
#include <vector>

namespace platform {

// True when a process runs whose executable file name without extension
// equals one of the names, ignoring letter case (reads /proc).
bool IsProcessRunning(const std::vector<std::string>& names);

int CurrentProcessId();

}  // namespace platform
