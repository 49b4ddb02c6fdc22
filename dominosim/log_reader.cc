#include "dominosim/log_reader.h"

#include <fcntl.h>

#include <cerrno>

#include "dominosim/checksum.h"
#include "dominosim/le_bytes.h"
#include "dominosim/status.h"
#include "platform/kit/file_io.h"

namespace dominosim {

using platform::kit::FileSize;
using platform::kit::OpenFile;
using platform::kit::PReadAll;
using platform::kit::ReadFileBytes;
using platform::kit::UniqueFd;

namespace {

std::uint32_t PayloadSize(RecordType type) {
  switch (type) {
    case RecordType::Page: return kPageSize;
    case RecordType::DbRecord: return kDbRecordSize;
    case RecordType::Commit: return kCommitPayloadSize;
    default: return 0;
  }
}

}  // namespace

STATUS ScanExtent(const std::string& path, std::uint32_t number, const Id16& logId,
                  std::uint64_t maxLsn, const TransactionFn& fn, ExtentScan& scan) {
  scan = ExtentScan{};
  UniqueFd fd = OpenFile(path, O_RDONLY);
  if (!fd.valid()) return errno == ENOENT ? ERR_FILE_NOT_FOUND : StatusFromErrno(errno);
  return ScanExtentAt(fd.get(), number, logId, maxLsn, fn, scan);
}

STATUS ScanExtentAt(int fd, std::uint32_t number, const Id16& logId, std::uint64_t maxLsn,
                    const TransactionFn& fn, ExtentScan& scan) {
  scan = ExtentScan{};
  // An extent far larger than any the log writes is not read into memory.
  std::uint64_t size = 0;
  if (int e = FileSize(fd, &size)) return StatusFromErrno(e);
  if (size > kMaxExtentBytes) return ERR_LOG_CORRUPT;
  std::string bytes(std::size_t(size), '\0');
  std::size_t got = 0;
  if (int e = PReadAll(fd, bytes.data(), bytes.size(), 0, &got)) return StatusFromErrno(e);
  bytes.resize(got);  // the writer may have appended since: what was there is read
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  if (bytes.size() < kExtentHeaderSize || !DecodeExtentHeader(data, scan.header) ||
      scan.header.number != number)
    return ERR_LOG_CORRUPT;
  if (scan.header.logId != logId) return ERR_LOG_FOREIGN;
  const bool committed = scan.header.version >= 2;  // transactions end with commit records
  scan.lastLsn = scan.header.firstLsn - 1;
  std::uint64_t lsn = scan.lastLsn;  // of the last record read
  LogTransaction pending;
  std::size_t offset = kExtentHeaderSize;
  while (true) {
    if (offset + kRecordHeaderSize > bytes.size()) {
      scan.stoppedEarly = offset != bytes.size();
      break;
    }
    RecordHeader header;
    if (!DecodeRecordHeader(data + offset, header)) {
      scan.stoppedEarly = true;
      break;
    }
    if (header.type == RecordType::End) {
      // The end record repeats the last sequence number of the extent.
      scan.sealed = header.lsn == lsn && pending.records.empty();
      scan.stoppedEarly = !scan.sealed;
      break;
    }
    const std::uint8_t* payload = data + offset + kRecordHeaderSize;
    const bool isCommit = header.type == RecordType::Commit;
    if (header.payloadSize != PayloadSize(header.type) ||
        offset + kRecordHeaderSize + header.payloadSize > bytes.size() || header.lsn != lsn + 1 ||
        Crc32(payload, header.payloadSize) != header.payloadCrc ||
        (header.type == RecordType::Page && !PageIsSound(payload, header.pageNo)) ||
        (isCommit && (!committed || header.pageNo != pending.records.size()))) {
      scan.stoppedEarly = true;
      break;
    }
    lsn = header.lsn;
    offset += kRecordHeaderSize + header.payloadSize;
    if (!isCommit) pending.records.push_back(LogRecord{header, payload});
    if (!isCommit && committed) continue;
    pending.commitTime = isCommit ? GetU64(payload) : 0;
    pending.lastLsn = lsn;
    if (pending.lastLsn > maxLsn) break;
    if (fn) {
      if (STATUS s = fn(pending)) return s;
    }
    scan.lastLsn = pending.lastLsn;
    ++scan.transactions;
    pending.records.clear();
  }
  return NOERROR;
}

}  // namespace dominosim
