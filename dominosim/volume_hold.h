// Holding a volume's shared write lock across several transactions of this
// thread: Database::Write and BackupStop then use the hold instead of taking
// the lock for each transaction (which costs several system calls). Keep a
// hold short (the simulated server holds one for at most a few
// milliseconds), since a snapshot of the volume waits for it.
#pragma once

#include "platform/volume_freeze.h"

namespace dominosim {

class VolumeHold {
 public:
  VolumeHold() = default;
  ~VolumeHold() { Release(); }
  VolumeHold(const VolumeHold&) = delete;
  VolumeHold& operator=(const VolumeHold&) = delete;

  // False when the lock cannot be taken (nothing is held then).
  bool Acquire(char drive);
  void Release();
  bool held() const { return drive_ != 0; }

  // True when this thread holds the drive's shared write lock through a hold.
  static bool HeldByThisThread(char drive);

 private:
  platform::VolumeLock lock_;
  char drive_ = 0;
};

// Takes the drive's shared write lock for one transaction unless this
// thread already holds it.
class VolumeWriteGuard {
 public:
  // drive 0: no lock.
  bool Lock(char drive);

 private:
  platform::VolumeLock lock_;
};

}  // namespace dominosim
