// The server's transaction log, shared by every process of the server: the
// control file is read and written under its flock, so the simulated server
// and the service can both append; records are written before the control
// file moves past them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dominosim/log_format.h"
#include "platform/kit/file_io.h"

namespace dominosim {

using platform::kit::SharedMapping;
using platform::kit::UniqueFd;

enum class LogStyle : std::uint32_t { Circular = 0, Archive = 1 };

constexpr std::uint32_t kDefaultExtentKiB = 256;
constexpr std::uint32_t kDefaultCircularExtents = 4;

struct LogOptions {
  std::string dir;  // host directory of the log
  LogStyle style = LogStyle::Archive;
  std::uint32_t extentBytes = kDefaultExtentKiB * 1024;
  std::uint32_t circularExtents = kDefaultCircularExtents;
  bool create = true;  // create an empty log when the directory has none
};

// One record to append; payload is kPageSize bytes for a page, kDbRecordSize
// for a database record. payloadCrc is the CRC-32 of the payload.
struct LogRecordIn {
  RecordType type = RecordType::Page;
  const Id16* instanceId = nullptr;
  std::uint32_t pageNo = 0;
  const std::uint8_t* payload = nullptr;
  std::uint32_t payloadSize = 0;
  std::uint32_t payloadCrc = 0;
};

class TxnLog {
 public:
  TxnLog() = default;  // use Open or Create
  // ERR_LOG_NOT_FOUND when there is no log and options.create is false or
  // the control file is damaged.
  static STATUS Open(const LogOptions& options, std::unique_ptr<TxnLog>& out);
  // A new empty log (control file and the first extent). ERR_DB_EXISTS when
  // the directory already holds one.
  static STATUS Create(const std::string& dir, const Id16& logId, std::uint32_t extentBytes);

  const Id16& logId() const { return logId_; }
  const std::string& dir() const { return options_.dir; }
  LogStyle style() const { return options_.style; }
  std::string ExtentPath(std::uint32_t number) const;

  // Appends the records and their commit record as one piece (one
  // transaction), rolling to a new extent first when they do not fit or the
  // current extent is of version 1. Gives the sequence number of the commit
  // record, its extent and the commit time (FILETIME of the host clock, taken
  // under the log's lock, so commit times follow the order of the log while
  // the clock does not step back).
  STATUS Append(const LogRecordIn* records, std::size_t count, std::uint64_t* lastLsn,
                std::uint32_t* lastExtent, std::uint64_t* commitTime = nullptr);
  STATUS ReadControl(LogControl& out);

  // The first full extent numbered from `from` on that waits to be archived;
  // ERR_NO_MORE_LOGS with *number set to the current extent when none does.
  STATUS NextArchivable(std::uint32_t from, std::uint32_t* number);
  STATUS MarkArchived(const Id16& logId, std::uint32_t number);

  // True when the control file was replaced since it was opened (a restore
  // of the volume that holds the log); the owner then opens the log again.
  bool Replaced() const;
  // Opens the control file again when it was replaced.
  STATUS ReopenIfReplaced();

 private:
  STATUS ReadLocked(LogControl& control);
  STATUS WriteLocked(const LogControl& control);
  STATUS Roll(LogControl& control);
  STATUS UseExtent(std::uint32_t number);
  void RemoveOldExtents(LogControl& control);

  LogOptions options_;
  Id16 logId_{};
  STATUS MapControl();
  UniqueFd control_;
  SharedMapping controlMap_;  // the control file's bytes, read and written under its flock
  std::uint64_t controlInode_ = 0;
  UniqueFd extent_;
  std::uint32_t extentNumber_ = 0;
  std::uint32_t extentVersion_ = 0;  // of the open extent
  std::vector<std::uint8_t> buffer_;
};

bool ExtentArchived(const LogControl& control, std::uint32_t number);

}  // namespace dominosim
