// Reading one log extent record by record, checking every checksum and the
// order of sequence numbers.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "dominosim/log_format.h"

namespace dominosim {

struct ExtentScan {
  ExtentHeader header;
  bool sealed = false;        // the end record was reached
  bool stoppedEarly = false;  // an unreadable record came before the end record
  std::uint64_t lastLsn = 0;  // of the last good record (firstLsn - 1 when none)
  std::uint32_t records = 0;
};

using RecordFn = std::function<STATUS(const RecordHeader& header, const std::uint8_t* payload)>;

// Reads the extent at path, which must be extent `number` of log `logId`:
// ERR_FILE_NOT_FOUND when it is missing, ERR_LOG_FOREIGN when it belongs to
// another log, ERR_LOG_CORRUPT when its header is damaged. Calls fn (when
// given) for each good record with a sequence number up to maxLsn; a non-zero
// status of fn ends the scan with that status.
STATUS ScanExtent(const std::string& path, std::uint32_t number, const Id16& logId,
                  std::uint64_t maxLsn, const RecordFn& fn, ExtentScan& scan);

}  // namespace dominosim
