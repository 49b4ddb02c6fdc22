// Processes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// True when a process runs whose executable file name without extension
// equals one of the names, ignoring letter case (reads /proc).
bool IsProcessRunning(const std::vector<std::string>& names);

int CurrentProcessId();

// The process's limits of open files (descriptors or handles); 0 where a
// limit is unknown, UINT64_MAX where there is none.
struct OpenFileLimits {
  std::uint64_t soft = 0;  // what the process may use now
  std::uint64_t hard = 0;  // what it may raise that to
};
OpenFileLimits GetOpenFileLimits();

// Raises the soft limit of open files to the hard limit (a service holds a
// file of every database of a server at once). Returns the limits before
// the call; *after receives the limits after it.
OpenFileLimits RaiseOpenFileLimit(OpenFileLimits* after);

}  // namespace platform
