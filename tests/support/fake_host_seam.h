// The host seam of a test: answers the process check and the free space of
// drives as the test says, the machine's answers for what it leaves unset;
// installed while the object lives.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/host_seam.h"

class FakeHostSeam : public platform::HostSeam {
 public:
  // Whether a Domino server runs (any process check), when set.
  std::function<bool()> isDominoRunning;
  // The free megabytes of a drive ("E"); false: unknown. When set.
  std::function<bool(const std::string& driveLetter, std::uint32_t& megabytes)> freeDiskMegabytes;
  // The time in UTC, when set.
  std::function<void(FILETIME& now)> now;
  // Told each step a run reaches (where a crash test would end it), when set.
  std::function<void(std::string_view step)> stepReached;

  bool IsProcessRunning(const std::vector<std::string>& names) override {
    return isDominoRunning ? isDominoRunning() : HostSeam::IsProcessRunning(names);
  }
  DWORD GetDiskFreeSpace(const std::string& path, std::uint64_t& freeBytes) override {
    if (!freeDiskMegabytes) return HostSeam::GetDiskFreeSpace(path, freeBytes);
    std::uint32_t megabytes = 0;
    if (!freeDiskMegabytes(path.substr(0, 1), megabytes)) return ERROR_PATH_NOT_FOUND;
    freeBytes = std::uint64_t(megabytes) << 20;
    return ERROR_SUCCESS;
  }
  void GetSystemTimeAsFileTime(FILETIME& out) override { now ? now(out) : HostSeam::GetSystemTimeAsFileTime(out); }
  void StepReached(std::string_view step) override {
    if (stepReached) stepReached(step);
  }

 private:
  platform::HostSeamOverride installed_{*this};
};
