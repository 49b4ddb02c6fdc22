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

bool VolumeLock::Lock(char driveLetter, Kind kind) {
  Unlock();
  char letter = driveLetter;
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
  if (letter < 'A' || letter > 'Z') return false;
  NativeFile file(posix::OpenLockFile(std::string("volume-") + letter + ".lock"));
  if (!file.valid()) return false;
  const int operation = kind == Kind::ExclusiveFreeze ? LOCK_EX : LOCK_SH;
  if (kit::Flock(file.get(), operation) != 0) return false;
  handle_ = std::move(file);
  return true;
}

}  // namespace platform
