// Reading one log extent transaction by transaction, checking every
// checksum and the order of sequence numbers.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "dominosim/log_format.h"

namespace dominosim {

// One record as read: its header, and its payload inside the extent's bytes.
struct LogRecord {
  RecordHeader header;
  const std::uint8_t* payload = nullptr;
};

// A whole transaction: its page and database-record records in order.
struct LogTransaction {
  std::uint64_t commitTime = 0;  // FILETIME; 0 in a version 1 extent
  std::uint64_t lastLsn = 0;     // of its commit record (of its one record in a version 1 extent)
  std::vector<LogRecord> records;
};

struct ExtentScan {
  ExtentHeader header;
  bool sealed = false;        // the end record was reached, right after a whole transaction
  bool stoppedEarly = false;  // an unreadable record came before the end of the extent
  std::uint64_t lastLsn = 0;  // of the last whole transaction (firstLsn - 1 when none)
  std::uint32_t transactions = 0;
};

using TransactionFn = std::function<STATUS(const LogTransaction& transaction)>;

// Reads the extent at path, which must be extent `number` of log `logId`:
// ERR_FILE_NOT_FOUND when it is missing, ERR_LOG_FOREIGN when it belongs to
// another log, ERR_LOG_CORRUPT when its header is damaged. Calls fn (when
// given) for each whole transaction whose last sequence number is at most
// maxLsn, in order; a non-zero status of fn ends the scan with that status.
// Records after the last whole transaction (one the writer is still
// appending, or a torn one) are not delivered.
STATUS ScanExtent(const std::string& path, std::uint32_t number, const Id16& logId,
                  std::uint64_t maxLsn, const TransactionFn& fn, ExtentScan& scan);
// The same on an extent open as fd (read from its start as it is now): an
// extent removed from the log directory since it was opened is still read.
STATUS ScanExtentAt(int fd, std::uint32_t number, const Id16& logId, std::uint64_t maxLsn,
                    const TransactionFn& fn, ExtentScan& scan);

}  // namespace dominosim
