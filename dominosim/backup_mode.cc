// Backup mode of a database, shared by every process through files in the
// state directory, all named after the database's key:
//   KEY.state   the lock of the database (flock), the backup-mode state
//               and offline mark (db_state.h), and
//               the holder lock: a lock on one byte of the open file (an
//               open-file-description lock on POSIX, LockFileEx on Windows),
//               held by the process that holds the backup; a holder that
//               died is noticed because its lock is gone
//   KEY.dirty   page numbers written while a backup records
//   KEY.chg     the change information fixed at BackupStop, when it is too
//               long to keep in memory
// Flags in the state say whether KEY.dirty and KEY.chg may exist, so that a
// database nobody wrote costs no look for them.
// A database in backup mode holds one descriptor, the state file's: the
// service holds thousands of them at once.
#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "dominosim/change_stream.h"
#include "dominosim/checksum.h"
#include "dominosim/database.h"
#include "dominosim/db_state.h"
#include "dominosim/le_bytes.h"
#include "dominosim/status.h"
#include "dominosim/txn_log.h"
#include "dominosim/volume_hold.h"
#include "platform/kit/file_io.h"
#include "platform/kit/process.h"

namespace dominosim {

using platform::kit::FileSize;
using platform::kit::FlockGuard;
using platform::kit::MakeDirectories;
using platform::kit::OpenFile;
using platform::kit::PReadAll;
using platform::kit::ReadFileBytes;
using platform::kit::RemoveFile;
using platform::kit::ReplaceFile;
using platform::kit::TruncateFile;
using platform::kit::WriteAll;

namespace {

constexpr char kStateMagic[8] = {'D', 'S', 'I', 'M', 'B', 'K', 'S', '1'};
constexpr std::size_t kStateSize = 40;
constexpr std::uint64_t kHolderCheckMs = 1000;
// Change information up to this size stays in the holder's memory from
// BackupStop to BackupEnd (no file to create, rename and remove for each
// database); a longer stream goes to KEY.chg.
constexpr std::uint64_t kChangesInMemory = 64 * 1024;

// The holder lock's byte. Byte locks and the whole-file lock do not meet,
// so it lives in the same file as the database's lock.
constexpr std::uint64_t kHolderByte = 0;

std::uint64_t NowMs() {
  return std::uint64_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now().time_since_epoch())
                           .count());
}

}  // namespace

std::string Database::StatePath(const char* suffix) const {
  return options_.stateDir + "/" + stateKey_ + suffix;
}

STATUS Database::OpenState() {
  state_ = OpenFile(StatePath(".state"), O_RDWR | O_CREAT, 0644);
  if (!state_.valid() && errno == ENOENT) {
    if (int e = MakeDirectories(options_.stateDir)) return StatusFromErrno(e);
    state_ = OpenFile(StatePath(".state"), O_RDWR | O_CREAT, 0644);
  }
  if (!state_.valid()) return StatusFromErrno(errno);
  // A new state file is sized once (zeros read as idle), then mapped; one
  // of full size needs no lock for that.
  std::uint64_t size = 0;
  if (int e = FileSize(state_.get(), &size)) return StatusFromErrno(e);
  if (size < kStateSize) {
    FlockGuard guard(state_.get(), true);
    if (int e = FileSize(state_.get(), &size)) return StatusFromErrno(e);
    if (size < kStateSize) {
      if (int e = TruncateFile(state_.get(), kStateSize)) return StatusFromErrno(e);
    }
  }
  if (int e = stateMap_.Map(state_.get(), kStateSize)) return StatusFromErrno(e);
  return NOERROR;
}

STATUS Database::ReadState(State& state) {
  const std::uint8_t* bytes = stateMap_.data();
  state = State{};
  static const std::uint8_t kZeros[kStateSize] = {};
  if (std::memcmp(bytes, kZeros, kStateSize) == 0) return NOERROR;  // a new state file: idle
  if (std::memcmp(bytes, kStateMagic, 8) != 0 ||
      GetU32(bytes + 32) != Crc32(bytes, 32))
    return ERR_STATE_CORRUPT;
  state.mode = GetU32(bytes + 8);
  state.context = GetU32(bytes + 12);
  state.holderPid = GetU32(bytes + 16);
  state.flags = GetU32(bytes + 20);
  state.streamSize = GetU64(bytes + 24);
  return NOERROR;
}

STATUS Database::WriteState(const State& state) {
  std::uint8_t bytes[kStateSize] = {};
  std::memcpy(bytes, kStateMagic, 8);
  PutU32(bytes + 8, state.mode);
  PutU32(bytes + 12, state.context);
  PutU32(bytes + 16, state.holderPid);
  PutU32(bytes + 20, state.flags);
  PutU64(bytes + 24, state.streamSize);
  PutU32(bytes + 32, Crc32(bytes, 32));
  std::memcpy(stateMap_.data(), bytes, kStateSize);
  return NOERROR;
}

bool Database::HolderAlive() {
  if (holding_) return true;
  // Another holder's lock conflicts with this descriptor's; a dead holder's
  // went with its descriptors.
  return platform::kit::ByteLockedByOther(state_.get(), kHolderByte);
}

STATUS Database::ClearDirty(const State& state) {
  if ((state.flags & kDirtyFileFlag) == 0) return NOERROR;  // no page was ever noted
  UniqueFd opened;
  int fd = dirty_.get();
  if (!dirty_.valid()) {
    opened = OpenFile(StatePath(".dirty"), O_WRONLY);
    if (!opened.valid()) return errno == ENOENT ? NOERROR : StatusFromErrno(errno);
    fd = opened.get();
  }
  if (int e = TruncateFile(fd, 0)) return StatusFromErrno(e);
  return NOERROR;
}

void Database::RemoveChanges(State& state) {
  if ((state.flags & kChangesFileFlag) == 0) return;
  if (int e = RemoveFile(StatePath(".chg")); e == 0 || e == ENOENT) state.flags &= ~std::uint32_t(kChangesFileFlag);
}

STATUS Database::ResetState(State& state) {
  state.mode = kIdle;
  state.holderPid = 0;
  state.streamSize = 0;
  if (STATUS s = ClearDirty(state)) return s;
  RemoveChanges(state);
  return WriteState(state);
}

STATUS Database::NoteWrites(const std::uint32_t* pages, std::size_t count) {
  State state;
  if (STATUS s = ReadState(state)) return s;
  if (state.mode != kRecording) return NOERROR;
  std::uint64_t now = NowMs();
  if (!holding_ && now - lastHolderCheck_ >= kHolderCheckMs) {
    lastHolderCheck_ = now;
    if (!HolderAlive()) return ResetState(state);  // the holder died: nothing to record for
  }
  if ((state.flags & kDirtyFileFlag) == 0) {
    state.flags |= kDirtyFileFlag;  // before the file: the holder then reads it
    if (STATUS s = WriteState(state)) return s;
  }
  if (!dirty_.valid()) {
    dirty_ = OpenFile(StatePath(".dirty"), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (!dirty_.valid()) return StatusFromErrno(errno);
  }
  if (int e = WriteAll(dirty_.get(), pages, count * sizeof(std::uint32_t))) return StatusFromErrno(e);
  return NOERROR;
}

STATUS Database::BackupStart(DWORD* context) {
  if (holding_) return ERR_IN_BACKUP;
  FlockGuard guard(state_.get(), true);
  State state;
  STATUS s = ReadState(state);
  if (s == ERR_STATE_CORRUPT) {
    state = State{};  // a damaged state is rebuilt: the backup starts afresh
    state.flags = kDirtyFileFlag | kChangesFileFlag;  // whatever files there are get cleared
  } else if (s != NOERROR) {
    return s;
  }
  if (state.mode != kIdle && HolderAlive()) return ERR_IN_BACKUP;
  if (int e = platform::kit::TryLockByte(state_.get(), kHolderByte)) {
    return e == EWOULDBLOCK ? ERR_IN_BACKUP : StatusFromErrno(e);
  }
  STATUS status = ClearDirty(state);
  if (status == NOERROR) {
    RemoveChanges(state);
    state.mode = kRecording;
    state.context = state.context + 1 == 0 ? 1 : state.context + 1;
    state.holderPid = std::uint32_t(platform::kit::CurrentProcessId());
    state.streamSize = 0;
    status = WriteState(state);
  }
  if (status != NOERROR) {
    platform::kit::UnlockByte(state_.get(), kHolderByte);
    return status;
  }
  holding_ = true;
  stopped_ = false;
  changesInMemory_.clear();
  context_ = state.context;
  changesSize_ = 0;
  changesOffset_ = 0;
  *context = state.context;
  return NOERROR;
}

STATUS Database::BackupStop(DWORD context) {
  if (!holding_ || context != context_) return ERR_NOT_IN_BACKUP;
  FileUse file(*this);
  if (STATUS s = file.status()) return s;
  // The header stamp below is a write to the database file.
  VolumeWriteGuard volume;
  if (!volume.Lock(options_.volumeDrive)) return ERR_IO;
  FlockGuard guard(state_.get(), true);
  State state;
  if (STATUS s = ReadState(state)) return s;
  if (state.context != context) return ERR_NOT_IN_BACKUP;
  if (state.mode == kStopped) return NOERROR;
  if (state.mode != kRecording) return ERR_NOT_IN_BACKUP;
  DbHeader header;
  if (STATUS s = ReadHeaderUnlocked(header)) return s;
  // Every logged change of this database up to the log's present end is in
  // the file now (writers hold this lock from logging to writing): say so in
  // the header, so a roll-forward from this state starts at the present end.
  if (options_.log != nullptr && header.logged != 0 && header.logId == options_.log->logId()) {
    LogControl control;
    if (STATUS s = options_.log->ReadControl(control)) return s;
    if (control.nextLsn - 1 > header.lastLsn) {
      header.lastLsn = control.nextLsn - 1;
      header.lastExtent = control.currentExtent;
      if (STATUS s = WriteHeaderUnlocked(header)) return s;
    }
  }
  std::uint64_t size = 0;
  if (STATUS s = BuildChangeInfo(header, state, &size)) return s;
  state.mode = kStopped;
  state.streamSize = size;
  if (STATUS s = WriteState(state)) return s;
  stopped_ = true;
  changesSize_ = size;
  changesOffset_ = 0;
  return NOERROR;
}

STATUS Database::BuildChangeInfo(const DbHeader& header, State& state, std::uint64_t* size) {
  std::string listed;  // no file: no page was written while the backup recorded
  if ((state.flags & kDirtyFileFlag) != 0) {
    if (int e = ReadFileBytes(StatePath(".dirty"), listed); e != 0 && e != ENOENT) return StatusFromErrno(e);
  }
  std::vector<std::uint32_t> pages(listed.size() / sizeof(std::uint32_t) + 1);
  pages[0] = 0;  // the header page always goes with the change information
  std::memcpy(pages.data() + 1, listed.data(), (pages.size() - 1) * sizeof(std::uint32_t));
  std::sort(pages.begin(), pages.end());
  pages.erase(std::unique(pages.begin(), pages.end()), pages.end());
  while (!pages.empty() && pages.back() >= header.pageCount) pages.pop_back();

  const std::uint64_t total = ChangeStreamSize(std::uint32_t(pages.size()));
  const bool inMemory = total <= kChangesInMemory;
  std::string temp = StatePath(".chg.tmp");
  UniqueFd out;
  if (!inMemory) {
    if ((state.flags & kChangesFileFlag) == 0) {
      state.flags |= kChangesFileFlag;  // before the file: BackupEnd then removes it
      if (STATUS s = WriteState(state)) return s;
    }
    out = OpenFile(temp, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!out.valid()) return StatusFromErrno(errno);
  }
  ChangeStreamWriter writer(inMemory ? -1 : out.get(), header.instanceId, header.pageCount,
                            std::uint32_t(pages.size()));
  // Pages with consecutive numbers are read in one piece.
  constexpr std::size_t kRun = 256;
  std::vector<std::uint8_t> run(std::min(kRun, pages.size()) * kPageSize);
  STATUS status = NOERROR;
  for (std::size_t i = 0; i < pages.size() && status == NOERROR;) {
    std::size_t n = 1;
    while (i + n < pages.size() && n < kRun && pages[i + n] == pages[i] + n) ++n;
    if (int e = PReadAll(fd_.get(), run.data(), n * kPageSize, std::uint64_t(pages[i]) * kPageSize)) {
      status = StatusFromErrno(e);
      break;
    }
    for (std::size_t k = 0; k < n && status == NOERROR; ++k) {
      status = writer.Add(pages[i + k], run.data() + k * kPageSize);
    }
    i += n;
  }
  if (status == NOERROR) status = writer.Finish();
  if (inMemory) {
    if (status != NOERROR) return status;
    changesInMemory_ = writer.TakeBytes();
    *size = total;
    return NOERROR;
  }
  out.reset();
  if (status == NOERROR) {
    if (int e = ReplaceFile(temp, StatePath(".chg"))) status = StatusFromErrno(e);
  }
  if (status != NOERROR) {
    RemoveFile(temp);
    return status;
  }
  *size = ChangeStreamSize(std::uint32_t(pages.size()));
  return NOERROR;
}

STATUS Database::ChangeInfoSize(DWORD context, std::uint64_t* size) {
  if (!holding_ || context != context_) return ERR_NOT_IN_BACKUP;
  if (!stopped_) return ERR_BACKUP_NOT_STOPPED;
  *size = changesSize_;
  return NOERROR;
}

STATUS Database::ReadChangeInfo(DWORD context, void* buffer, DWORD size, DWORD* length) {
  *length = 0;
  if (!holding_ || context != context_) return ERR_NOT_IN_BACKUP;
  if (!stopped_) return ERR_BACKUP_NOT_STOPPED;
  if (changesOffset_ >= changesSize_ || size == 0) return NOERROR;
  std::size_t want = std::size_t(std::min<std::uint64_t>(size, changesSize_ - changesOffset_));
  if (changesInMemory_.size() == changesSize_) {
    std::memcpy(buffer, changesInMemory_.data() + changesOffset_, want);
    changesOffset_ += want;
    *length = DWORD(want);
    return NOERROR;
  }
  // Opened for each chunk: a stopped database still holds one descriptor.
  UniqueFd changes = OpenFile(StatePath(".chg"), O_RDONLY);
  if (!changes.valid()) return StatusFromErrno(errno);
  std::size_t got = 0;
  if (int e = PReadAll(changes.get(), buffer, want, changesOffset_, &got)) return StatusFromErrno(e);
  if (got != want) return ERR_IO;  // the fixed stream lost bytes
  changesOffset_ += got;
  *length = DWORD(got);
  return NOERROR;
}

STATUS Database::BackupEnd(DWORD context, bool /*abandon*/) {
  if (!holding_ || context != context_) return ERR_NOT_IN_BACKUP;
  STATUS status = NOERROR;
  {
    FlockGuard guard(state_.get(), true);
    State state;
    status = ReadState(state);
    if (status == NOERROR && state.context == context) status = ResetState(state);
    platform::kit::UnlockByte(state_.get(), kHolderByte);
  }
  holding_ = false;
  stopped_ = false;
  changesInMemory_ = {};
  context_ = 0;
  return status;
}

}  // namespace dominosim
