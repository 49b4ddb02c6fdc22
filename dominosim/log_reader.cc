#include "dominosim/log_reader.h"

#include <fcntl.h>

#include <cerrno>

#include "dominosim/checksum.h"
#include "dominosim/status.h"
#include "platform/kit/file_io.h"

namespace dominosim {

using platform::kit::FileSize;
using platform::kit::OpenFile;
using platform::kit::ReadFileBytes;
using platform::kit::UniqueFd;

STATUS ScanExtent(const std::string& path, std::uint32_t number, const Id16& logId,
                  std::uint64_t maxLsn, const RecordFn& fn, ExtentScan& scan) {
  scan = ExtentScan{};
  {
    // An extent far larger than any the log writes is not read into memory.
    UniqueFd fd = OpenFile(path, O_RDONLY);
    std::uint64_t size = 0;
    if (fd.valid() && FileSize(fd.get(), &size) == 0 && size > kMaxExtentBytes) return ERR_LOG_CORRUPT;
  }
  std::string bytes;
  if (int e = ReadFileBytes(path, bytes)) return e == ENOENT ? ERR_FILE_NOT_FOUND : StatusFromErrno(e);
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  if (bytes.size() < kExtentHeaderSize || !DecodeExtentHeader(data, scan.header) ||
      scan.header.number != number)
    return ERR_LOG_CORRUPT;
  if (scan.header.logId != logId) return ERR_LOG_FOREIGN;
  scan.lastLsn = scan.header.firstLsn - 1;
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
      scan.sealed = header.lsn == scan.lastLsn;
      scan.stoppedEarly = !scan.sealed;
      break;
    }
    const std::uint8_t* payload = data + offset + kRecordHeaderSize;
    bool sizeOk = header.type == RecordType::Page ? header.payloadSize == kPageSize
                                                  : header.payloadSize == kDbRecordSize;
    if (!sizeOk || offset + kRecordHeaderSize + header.payloadSize > bytes.size() ||
        header.lsn != scan.lastLsn + 1 || Crc32(payload, header.payloadSize) != header.payloadCrc ||
        (header.type == RecordType::Page && !PageIsSound(payload, header.pageNo))) {
      scan.stoppedEarly = true;
      break;
    }
    if (header.lsn > maxLsn) break;
    if (fn) {
      if (STATUS s = fn(header, payload)) return s;
    }
    scan.lastLsn = header.lsn;
    ++scan.records;
    offset += kRecordHeaderSize + header.payloadSize;
  }
  return NOERROR;
}

}  // namespace dominosim
