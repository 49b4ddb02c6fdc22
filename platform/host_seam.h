// The machine-wide answers that a test must be able to give for its own host:
// whether a named program runs, how much room a drive has and what time it
// is. Every method of HostSeam gives the machine's answer; a test derives
// from it, overrides only what it changes and installs it for the lifetime
// of a HostSeamOverride. platform::IsProcessRunning, GetDiskFreeSpace,
// GetSystemTimeAsFileTime, GetSystemTime and GetLocalTime answer through the
// seam in force, so every caller of the engine sees the test's host.
// platform::StepReached tells the seam that a long run has reached a named
// step; the machine does nothing there, a test may stop the process hard to
// see what the next run makes of what this one left.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win_types.h"

namespace platform {

class HostSeam {
 public:
  virtual ~HostSeam() = default;
  virtual bool IsProcessRunning(const std::vector<std::string>& names);
  virtual DWORD GetDiskFreeSpace(const std::string& path, std::uint64_t& freeBytes);
  // The time in UTC; a seam that overrides it also sets what GetSystemTime
  // and GetLocalTime (through the time zone in force) return.
  virtual void GetSystemTimeAsFileTime(FILETIME& out);
  virtual void StepReached(std::string_view step);
};

// A run has reached the named step ("logs-kept", "reverted", ...).
void StepReached(std::string_view step);

// Installs a seam while it lives and puts the previous one back after. Not
// for use while another thread of the process asks the seam.
class HostSeamOverride {
 public:
  explicit HostSeamOverride(HostSeam& seam);
  ~HostSeamOverride();
  HostSeamOverride(const HostSeamOverride&) = delete;
  HostSeamOverride& operator=(const HostSeamOverride&) = delete;

 private:
  HostSeam* previous_;
};

}  // namespace platform
