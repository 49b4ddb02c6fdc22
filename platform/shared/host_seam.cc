// The host seam and the surfaces that answer through it.
#include "platform/host_seam.h"

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/shared/machine.h"

namespace platform {

namespace {

HostSeam& MachineSeam() {
  static HostSeam machine;
  return machine;
}

HostSeam*& Installed() {
  static HostSeam* installed = &MachineSeam();
  return installed;
}

// The time of an installed seam as SYSTEMTIME, local or UTC.
void SeamTime(bool local, SYSTEMTIME& out) {
  FILETIME utc, shown;
  Installed()->GetSystemTimeAsFileTime(utc);
  if (!local || !FileTimeToLocalFileTime(utc, shown)) shown = utc;
  if (!FileTimeToSystemTime(shown, out)) out = SYSTEMTIME{};
}

}  // namespace

bool HostSeam::IsProcessRunning(const std::vector<std::string>& names) {
  return machine::IsProcessRunning(names);
}

DWORD HostSeam::GetDiskFreeSpace(const std::string& path, std::uint64_t& freeBytes) {
  return machine::GetDiskFreeSpace(path, freeBytes);
}

void HostSeam::GetSystemTimeAsFileTime(FILETIME& out) { machine::GetSystemTimeAsFileTime(out); }

void HostSeam::StepReached(std::string_view) {}

HostSeamOverride::HostSeamOverride(HostSeam& seam) : previous_(Installed()) { Installed() = &seam; }

HostSeamOverride::~HostSeamOverride() { Installed() = previous_; }

bool IsProcessRunning(const std::vector<std::string>& names) { return Installed()->IsProcessRunning(names); }

DWORD GetDiskFreeSpace(const std::string& path, std::uint64_t& freeBytes) {
  return Installed()->GetDiskFreeSpace(path, freeBytes);
}

void GetSystemTimeAsFileTime(FILETIME& out) { Installed()->GetSystemTimeAsFileTime(out); }

void StepReached(std::string_view step) { Installed()->StepReached(step); }

void GetSystemTime(SYSTEMTIME& out) {
  if (Installed() == &MachineSeam()) {
    machine::GetSystemTime(out);
  } else {
    SeamTime(false, out);
  }
}

void GetLocalTime(SYSTEMTIME& out) {
  if (Installed() == &MachineSeam()) {
    machine::GetLocalTime(out);
  } else {
    SeamTime(true, out);
  }
}

}  // namespace platform
