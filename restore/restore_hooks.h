// The two host checks of a restore that look at the whole machine: whether
// a Domino server runs and how much room a drive has. They are reached
// through this table so that tests on a shared machine can answer them for
// their own host; the defaults are the real checks of domino/host_utils.h.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

struct RestoreHostChecks {
  std::function<bool()> isDominoRunning;
  std::function<bool(const std::string& driveLetter, std::uint32_t& megabytes)> freeDiskMegabytes;
};

// The checks in force (the real ones unless replaced). Process-wide and not
// guarded: replace them only while no restore runs.
const RestoreHostChecks& CurrentRestoreHostChecks();
// Replaces the checks; an empty function keeps the real check.
void SetRestoreHostChecks(RestoreHostChecks checks);
void ResetRestoreHostChecks();
