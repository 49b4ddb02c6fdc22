#include "dominosim/txn_log.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>

#include "dominosim/checksum.h"
#include "dominosim/le_bytes.h"
#include "dominosim/status.h"
#include "platform/kit/file_io.h"

namespace dominosim {

using platform::kit::FileSize;
using platform::kit::FlockGuard;
using platform::kit::MakeDirectories;
using platform::kit::NowFileTime;
using platform::kit::OpenFile;
using platform::kit::PReadAll;
using platform::kit::PWriteAll;
using platform::kit::PathExists;
using platform::kit::WriteAll;
using platform::kit::WriteFileAtomically;

namespace {

std::string ControlPath(const std::string& dir) { return dir + "/" + kControlFileName; }


STATUS WriteNewExtent(const std::string& path, std::uint32_t number, const Id16& logId,
                      std::uint64_t firstLsn) {
  UniqueFd fd = OpenFile(path, O_WRONLY | O_CREAT | O_TRUNC);
  if (!fd.valid()) return StatusFromErrno(errno);
  std::uint8_t header[kExtentHeaderSize];
  EncodeExtentHeader(ExtentHeader{kExtentVersion, number, logId, firstLsn}, header);
  if (int e = WriteAll(fd.get(), header, sizeof header)) return StatusFromErrno(e);
  return NOERROR;
}


}  // namespace

bool ExtentArchived(const LogControl& c, std::uint32_t number) {
  if (number < c.archiveLow) return true;
  std::uint32_t d = number - c.archiveLow;
  return d < 64 && ((c.archivedBits >> d) & 1u) != 0;
}

STATUS TxnLog::Create(const std::string& dir, const Id16& logId, std::uint32_t extentBytes) {
  if (dir.empty()) return ERR_BAD_PATH;
  if (int e = MakeDirectories(dir)) return StatusFromErrno(e);
  // Creation is serialised on a lock file in the directory so two processes
  // never make two logs.
  UniqueFd creation = OpenFile(dir + "/" + kCreateLockName, O_RDWR | O_CREAT);
  if (!creation.valid()) return StatusFromErrno(errno);
  FlockGuard guard(creation.get(), true);
  if (PathExists(ControlPath(dir))) return ERR_DB_EXISTS;
  if (STATUS s = WriteNewExtent(dir + "/" + ExtentFileName(1), 1, logId, 1)) return s;
  LogControl control;
  control.logId = logId;
  control.extentBytes = extentBytes;
  control.created = NowFileTime();
  std::uint8_t bytes[kControlSize];
  EncodeControl(control, bytes);
  const std::string_view data(reinterpret_cast<const char*>(bytes), sizeof bytes);
  if (int e = WriteFileAtomically(ControlPath(dir), data, true)) return StatusFromErrno(e);
  return NOERROR;
}

STATUS TxnLog::Open(const LogOptions& options, std::unique_ptr<TxnLog>& out) {
  if (options.dir.empty()) return ERR_BAD_PATH;
  auto log = std::make_unique<TxnLog>();
  log->options_ = options;
  if (log->options_.extentBytes < 4 * kPageSize) log->options_.extentBytes = 4 * kPageSize;
  if (log->options_.circularExtents < 2) log->options_.circularExtents = 2;
  std::string path = ControlPath(options.dir);
  if (!PathExists(path)) {
    if (!options.create) return ERR_LOG_NOT_FOUND;
    STATUS s = Create(options.dir, NewRandomId(), log->options_.extentBytes);
    if (s != NOERROR && s != ERR_DB_EXISTS) return s;
  }
  log->control_ = OpenFile(path, O_RDWR);
  if (!log->control_.valid()) return errno == ENOENT ? ERR_LOG_NOT_FOUND : StatusFromErrno(errno);
  log->controlInode_ = platform::kit::FileIdentity(log->control_.get());
  if (STATUS s = log->MapControl()) return s;
  LogControl control;
  FlockGuard guard(log->control_.get(), false);
  if (STATUS s = log->ReadLocked(control)) return s;
  log->logId_ = control.logId;
  out = std::move(log);
  return NOERROR;
}

std::string TxnLog::ExtentPath(std::uint32_t number) const {
  return options_.dir + "/" + ExtentFileName(number);
}

bool TxnLog::Replaced() const {
  const std::uint64_t identity = platform::kit::PathIdentity(ControlPath(options_.dir));
  return identity == 0 || identity != controlInode_;
}

STATUS TxnLog::ReopenIfReplaced() {
  if (!Replaced()) return NOERROR;
  UniqueFd control = OpenFile(ControlPath(options_.dir), O_RDWR);
  if (!control.valid()) return ERR_LOG_NOT_FOUND;
  control_ = std::move(control);
  controlInode_ = platform::kit::FileIdentity(control_.get());
  if (STATUS s = MapControl()) return s;
  extent_.reset();
  extentNumber_ = 0;
  LogControl c;
  FlockGuard guard(control_.get(), false);
  if (STATUS s = ReadLocked(c)) return s;
  logId_ = c.logId;
  return NOERROR;
}

STATUS TxnLog::MapControl() {
  // A control file cut short is damaged; one of the right size is mapped,
  // so appends read and write it without system calls.
  std::uint64_t size = 0;
  if (FileSize(control_.get(), &size) != 0 || size < kControlSize) return ERR_LOG_NOT_FOUND;
  if (int e = controlMap_.Map(control_.get(), kControlSize)) return StatusFromErrno(e);
  return NOERROR;
}

STATUS TxnLog::ReadLocked(LogControl& control) {
  if (!DecodeControl(controlMap_.data(), control)) return ERR_LOG_NOT_FOUND;
  return NOERROR;
}

STATUS TxnLog::WriteLocked(const LogControl& control) {
  EncodeControl(control, controlMap_.data());
  return NOERROR;
}

STATUS TxnLog::ReadControl(LogControl& out) {
  FlockGuard guard(control_.get(), false);
  return ReadLocked(out);
}

STATUS TxnLog::UseExtent(std::uint32_t number) {
  if (extent_.valid() && extentNumber_ == number) return NOERROR;
  extentNumber_ = 0;
  extent_ = OpenFile(ExtentPath(number), O_RDWR);
  if (!extent_.valid()) return errno == ENOENT ? ERR_LOG_NOT_FOUND : StatusFromErrno(errno);
  std::uint8_t bytes[kExtentHeaderSize];
  ExtentHeader header;
  if (PReadAll(extent_.get(), bytes, sizeof bytes, 0) != 0 || !DecodeExtentHeader(bytes, header)) {
    extent_.reset();
    return ERR_LOG_CORRUPT;
  }
  extentNumber_ = number;
  extentVersion_ = header.version;
  return NOERROR;
}

STATUS TxnLog::Roll(LogControl& c) {
  // Close the full extent with an end record, then start the next one.
  if (STATUS s = UseExtent(c.currentExtent)) return s;
  std::uint8_t end[kRecordHeaderSize];
  RecordHeader header;
  header.type = RecordType::End;
  header.lsn = c.nextLsn - 1;
  EncodeRecordHeader(header, end);
  if (int e = PWriteAll(extent_.get(), end, sizeof end, c.writeOffset)) return StatusFromErrno(e);
  std::uint32_t next = c.currentExtent + 1;
  if (STATUS s = WriteNewExtent(ExtentPath(next), next, c.logId, c.nextLsn)) return s;
  c.currentExtent = next;
  c.writeOffset = kExtentHeaderSize;
  c.extentBytes = options_.extentBytes;
  RemoveOldExtents(c);
  return NOERROR;
}

void TxnLog::RemoveOldExtents(LogControl& c) {
  if (options_.style == LogStyle::Archive) {
    // Archived extents leave the log directory; their copies are elsewhere.
    while (c.oldestPresent < c.currentExtent && ExtentArchived(c, c.oldestPresent)) {
      platform::kit::RemoveFile(ExtentPath(c.oldestPresent));
      ++c.oldestPresent;
    }
  } else {
    // Circular logging keeps a fixed number of extents.
    while (c.currentExtent - c.oldestPresent >= options_.circularExtents) {
      platform::kit::RemoveFile(ExtentPath(c.oldestPresent));
      ++c.oldestPresent;
    }
    if (c.archiveLow < c.oldestPresent) {
      c.archiveLow = c.oldestPresent;
      c.archivedBits = 0;
    }
  }
}

STATUS TxnLog::Append(const LogRecordIn* records, std::size_t count, std::uint64_t* lastLsn,
                      std::uint32_t* lastExtent, std::uint64_t* commitTime) {
  std::size_t size = kRecordHeaderSize + kCommitPayloadSize;
  for (std::size_t i = 0; i < count; ++i) size += kRecordHeaderSize + records[i].payloadSize;
  FlockGuard guard(control_.get(), true);
  LogControl c;
  if (STATUS s = ReadLocked(c)) return s;
  if (STATUS s = UseExtent(c.currentExtent)) return s;
  if (extentVersion_ < kExtentVersion ||
      (c.writeOffset + size + kRecordHeaderSize > options_.extentBytes && c.writeOffset > kExtentHeaderSize)) {
    if (STATUS s = Roll(c)) return s;
    if (STATUS s = UseExtent(c.currentExtent)) return s;
  }
  buffer_.resize(size);
  std::uint8_t* p = buffer_.data();
  for (std::size_t i = 0; i < count; ++i) {
    const LogRecordIn& r = records[i];
    RecordHeader header;
    header.type = r.type;
    header.lsn = c.nextLsn + i;
    header.instanceId = *r.instanceId;
    header.pageNo = r.pageNo;
    header.payloadSize = r.payloadSize;
    header.payloadCrc = r.payloadCrc;
    EncodeRecordHeader(header, p);
    std::memcpy(p + kRecordHeaderSize, r.payload, r.payloadSize);
    p += kRecordHeaderSize + r.payloadSize;
  }
  // The commit record: the transaction counts once it is whole.
  const std::uint64_t now = platform::kit::NowFileTime();
  RecordHeader commit;
  commit.type = RecordType::Commit;
  commit.lsn = c.nextLsn + count;
  if (count > 0) commit.instanceId = *records[0].instanceId;
  commit.pageNo = std::uint32_t(count);
  commit.payloadSize = kCommitPayloadSize;
  PutU64(p + kRecordHeaderSize, now);
  commit.payloadCrc = Crc32(p + kRecordHeaderSize, kCommitPayloadSize);
  EncodeRecordHeader(commit, p);
  if (int e = PWriteAll(extent_.get(), buffer_.data(), size, c.writeOffset))
    return StatusFromErrno(e);
  c.writeOffset += std::uint32_t(size);
  c.nextLsn += count + 1;
  if (STATUS s = WriteLocked(c)) return s;
  *lastLsn = c.nextLsn - 1;
  *lastExtent = c.currentExtent;
  if (commitTime != nullptr) *commitTime = now;
  return NOERROR;
}

STATUS TxnLog::NextArchivable(std::uint32_t from, std::uint32_t* number) {
  FlockGuard guard(control_.get(), false);
  LogControl c;
  if (STATUS s = ReadLocked(c)) return s;
  if (options_.style == LogStyle::Archive) {
    std::uint32_t n = from;
    if (n < c.archiveLow) n = c.archiveLow;
    if (n < c.oldestPresent) n = c.oldestPresent;
    for (; n < c.currentExtent; ++n) {
      if (!ExtentArchived(c, n) && PathExists(ExtentPath(n))) {
        *number = n;
        return NOERROR;
      }
    }
  }
  *number = c.currentExtent;
  return ERR_NO_MORE_LOGS;
}

STATUS TxnLog::MarkArchived(const Id16& logId, std::uint32_t number) {
  if (options_.style != LogStyle::Archive) return ERR_NOT_ARCHIVE_LOGGING;
  FlockGuard guard(control_.get(), true);
  LogControl c;
  if (STATUS s = ReadLocked(c)) return s;
  if (logId != c.logId) return ERR_LOG_FOREIGN;
  if (number == 0 || number >= c.currentExtent) return ERR_LOG_NOT_ARCHIVABLE;
  if (ExtentArchived(c, number)) return NOERROR;
  std::uint32_t d = number - c.archiveLow;
  if (d >= 64) return ERR_LOG_NOT_ARCHIVABLE;
  c.archivedBits |= std::uint64_t(1) << d;
  while ((c.archivedBits & 1u) != 0 && c.archiveLow < c.currentExtent) {
    c.archivedBits >>= 1;
    ++c.archiveLow;
  }
  return WriteLocked(c);
}

}  // namespace dominosim
