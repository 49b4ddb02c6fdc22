// Taking a database offline and bringing it online: a mark in its state
// file, which every writer of every process checks under the database's
// lock before it writes.
#include <cerrno>
#include <chrono>
#include <thread>

#include "dominosim/database.h"
#include "dominosim/db_state.h"
#include "dominosim/status.h"
#include "dominosim/volume_hold.h"
#include "platform/kit/file_io.h"

namespace dominosim {

using platform::kit::FlockGuard;

STATUS Database::CheckOnline() {
  State state;
  if (STATUS s = ReadState(state)) return s;
  return (state.flags & kOfflineFlag) != 0 ? ERR_DB_OFFLINE : NOERROR;
}

bool Database::Offline() {
  FlockGuard guard(state_.get(), false);
  return CheckOnline() == ERR_DB_OFFLINE;
}

STATUS Database::TakeOffline(std::uint32_t waitMs) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs);
  while (true) {
    {
      // The file goes as a write would: under the volume's write lock, so a
      // snapshot of the volume sees it or not, and under the database's lock.
      VolumeWriteGuard volume;
      if (!volume.Lock(options_.volumeDrive)) return ERR_IO;
      FlockGuard guard(state_.get(), true);
      State state;
      STATUS s = ReadState(state);
      if (s == ERR_STATE_CORRUPT) {
        state = State{};
      } else if (s != NOERROR) {
        return s;
      }
      if (state.mode == kIdle || !HolderAlive()) {
        if (state.mode != kIdle) {
          if (STATUS r = ResetState(state)) return r;  // the backup's holder died
        }
        state.flags |= kOfflineFlag;
        if (STATUS w = WriteState(state)) return w;
        fd_.reset();
        const int e = platform::kit::RemoveFile(path_);
        if (e == 0 || e == ENOENT) return NOERROR;
        state.flags &= ~std::uint32_t(kOfflineFlag);
        WriteState(state);
        return StatusFromErrno(e);
      }
    }
    if (Clock::now() >= deadline) return ERR_DBINUSE;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

STATUS Database::BringOnline() {
  FlockGuard guard(state_.get(), true);
  State state;
  if (STATUS s = ReadState(state)) return s;
  if ((state.flags & kOfflineFlag) == 0) return NOERROR;
  state.flags &= ~std::uint32_t(kOfflineFlag);
  return WriteState(state);
}

}  // namespace dominosim
