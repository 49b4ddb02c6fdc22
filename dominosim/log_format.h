// The transaction log on disk: a control file and extents named S%07d.TXN.
//
// Extent: a header (kExtentHeaderSize bytes: magic, version, extent number,
// log id, first sequence number, CRC), then records. Record: a header of
// kRecordHeaderSize bytes (magic, type, sequence number, database instance,
// page number, payload length, payload CRC, header CRC) and the payload. A
// full extent ends with an end record; records never span extents.
//
// Version 2: every transaction is its records followed by a commit record,
// which carries the commit time; a transaction counts only once its commit
// record is whole. Version 1 extents (written before commit records) are
// read as one transaction per record, of unknown commit time (0); the log
// never appends to one, it rolls to a version 2 extent first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "dominosim/page_format.h"

namespace dominosim {

constexpr std::size_t kExtentHeaderSize = 64;
constexpr std::size_t kRecordHeaderSize = 48;
constexpr std::size_t kControlSize = 128;
constexpr const char* kControlFileName = "SIMLOG.CTL";
// Held while a log is created in its directory.
constexpr const char* kCreateLockName = "SIMLOG.LCK";
// Extents are at most this large (the configured size is capped below it).
constexpr std::uint64_t kMaxExtentBytes = 1ull << 30;

enum class RecordType : std::uint16_t {
  Page = 1,      // payload: the whole page image
  DbRecord = 2,  // payload: the 128-byte database record
  End = 3,       // closes a full extent; page field: records in the extent
  Commit = 4,    // ends a transaction; payload: its commit time (FILETIME, 8 bytes),
                 // page field: the transaction's records before this one
};

constexpr std::uint32_t kExtentVersion = 2;
constexpr std::uint32_t kCommitPayloadSize = 8;

struct RecordHeader {
  RecordType type = RecordType::Page;
  std::uint64_t lsn = 0;
  Id16 instanceId{};
  std::uint32_t pageNo = 0;
  std::uint32_t payloadSize = 0;
  std::uint32_t payloadCrc = 0;
};

void EncodeRecordHeader(const RecordHeader& header, std::uint8_t out[kRecordHeaderSize]);
// False when the magic or the header CRC does not match.
bool DecodeRecordHeader(const std::uint8_t in[kRecordHeaderSize], RecordHeader& header);

struct ExtentHeader {
  std::uint32_t version = kExtentVersion;
  std::uint32_t number = 0;
  Id16 logId{};
  std::uint64_t firstLsn = 1;
};

void EncodeExtentHeader(const ExtentHeader& header, std::uint8_t out[kExtentHeaderSize]);
bool DecodeExtentHeader(const std::uint8_t in[kExtentHeaderSize], ExtentHeader& header);

// The control file: where the log writes next and what was archived.
struct LogControl {
  Id16 logId{};
  std::uint32_t currentExtent = 1;
  std::uint32_t writeOffset = kExtentHeaderSize;
  std::uint64_t nextLsn = 1;
  std::uint32_t extentBytes = 0;
  std::uint32_t oldestPresent = 1;   // extents below were removed
  std::uint32_t archiveLow = 1;      // extents below are archived
  std::uint64_t archivedBits = 0;    // bit i: extent archiveLow + i archived
  std::uint64_t created = 0;         // FILETIME of the log's creation
};

void EncodeControl(const LogControl& control, std::uint8_t out[kControlSize]);
bool DecodeControl(const std::uint8_t in[kControlSize], LogControl& control);

// "S%07d.TXN"
std::string ExtentFileName(std::uint32_t number);

}  // namespace dominosim
