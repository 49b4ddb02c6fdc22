// The volume freeze: DIR/locks/volume-<LETTER>.lock, shared by writers and
// exclusive for the capture of a snapshot.
#include "platform/volume_freeze.h"

#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>

#include "platform/kit/file_io.h"
#include "platform/posix/lock_file.h"

namespace platform {

VolumeLock::~VolumeLock() { Unlock(); }

VolumeLock::VolumeLock(VolumeLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

VolumeLock& VolumeLock::operator=(VolumeLock&& other) noexcept {
  if (this != &other) {
    Unlock();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

bool VolumeLock::Lock(char driveLetter, Kind kind) {
  Unlock();
  char letter = driveLetter;
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
  if (letter < 'A' || letter > 'Z') return false;
  const int fd = posix::OpenLockFile(std::string("volume-") + letter + ".lock");
  if (fd < 0) return false;
  const int operation = kind == Kind::ExclusiveFreeze ? LOCK_EX : LOCK_SH;
  if (kit::Flock(fd, operation) != 0) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

void VolumeLock::Unlock() {
  if (fd_ >= 0) ::close(std::exchange(fd_, -1));
}

}  // namespace platform
