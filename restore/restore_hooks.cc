#include "restore/restore_hooks.h"

#include <utility>

#include "domino/host_utils.h"

namespace {

RestoreHostChecks RealChecks() {
  RestoreHostChecks checks;
  checks.isDominoRunning = [] { return IsDominoRunning(); };
  checks.freeDiskMegabytes = [](const std::string& drive, std::uint32_t& megabytes) {
    return GetFreeDiskMegabytes(drive, megabytes);
  };
  return checks;
}

RestoreHostChecks& Checks() {
  static RestoreHostChecks checks = RealChecks();
  return checks;
}

}  // namespace

const RestoreHostChecks& CurrentRestoreHostChecks() { return Checks(); }

void SetRestoreHostChecks(RestoreHostChecks checks) {
  RestoreHostChecks real = RealChecks();
  if (!checks.isDominoRunning) checks.isDominoRunning = std::move(real.isDominoRunning);
  if (!checks.freeDiskMegabytes) checks.freeDiskMegabytes = std::move(real.freeDiskMegabytes);
  Checks() = std::move(checks);
}

void ResetRestoreHostChecks() { Checks() = RealChecks(); }
