#include "dominosim/volume_hold.h"

namespace dominosim {
namespace {

thread_local char t_heldDrive = 0;

}  // namespace

bool VolumeHold::Acquire(char drive) {
  Release();
  if (drive == 0 || !lock_.Lock(drive, platform::VolumeLock::Kind::SharedWrite)) return false;
  drive_ = drive;
  t_heldDrive = drive;
  return true;
}

void VolumeHold::Release() {
  if (drive_ == 0) return;
  if (t_heldDrive == drive_) t_heldDrive = 0;
  drive_ = 0;
  lock_.Unlock();
}

bool VolumeHold::HeldByThisThread(char drive) { return drive != 0 && t_heldDrive == drive; }

bool VolumeWriteGuard::Lock(char drive) {
  if (drive == 0 || VolumeHold::HeldByThisThread(drive)) return true;
  return lock_.Lock(drive, platform::VolumeLock::Kind::SharedWrite);
}

}  // namespace dominosim
