// The database file: fixed-size pages; page 0 holds the header.
//
// Data page (kPageSize bytes): payload [0, kPagePayload), page number at
// kPagePayload (u32), CRC-32 of [0, kPagePayload + 4) in the last 4 bytes.
//
// Header page: the fields below, a CRC-32 of them, then zeros. The header's
// last-applied log sequence number, its log extent and the commit time of
// the last transaction in the file are bookkeeping of the log (where a
// roll-forward starts, whether a point-in-time recovery can reach its
// moment); everything else is content. Version 1 headers (before the commit
// time) are read as having none; every header written is version 2.
//
// The 128-byte database record: the title in [0, 64) (zero-terminated),
// the replica id in [64, 72), the rest the database's own.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/win_types.h"

namespace dominosim {

constexpr std::uint32_t kPageSize = 4096;
constexpr std::uint32_t kPagePayload = kPageSize - 8;
constexpr std::uint32_t kDbRecordSize = 128;
constexpr std::uint32_t kFormatVersion = 2;
constexpr std::size_t kRecordReplicaId = 64;
constexpr std::size_t kReplicaIdSize = 8;
constexpr std::size_t kRecordFree = kRecordReplicaId + kReplicaIdSize;

using Id16 = std::array<std::uint8_t, 16>;

struct DbHeader {
  std::uint32_t formatVersion = kFormatVersion;
  std::uint32_t pageCount = 1;  // pages in the file, header page included
  Id16 instanceId{};
  std::uint32_t logged = 0;
  Id16 logId{};
  std::uint64_t lastLsn = 0;       // every logged change up to here is in the file
  std::uint32_t lastExtent = 0;    // extent holding record lastLsn + 1 or the one before it
  std::uint64_t created = 0;       // FILETIME (UTC)
  std::uint64_t lastCommit = 0;    // FILETIME of the last transaction in the file; 0: none known
  std::array<std::uint8_t, kDbRecordSize> dbRecord{};
};

// Bytes of the header that are written (the rest of page 0 stays zero).
constexpr std::size_t kHeaderBytes = 220;

void EncodeHeader(const DbHeader& header, std::uint8_t out[kHeaderBytes]);
// ERR_NOT_DATABASE (wrong magic), ERR_DB_VERSION, ERR_DB_CORRUPT (checksum or
// impossible values), or 0.
STATUS DecodeHeader(const std::uint8_t* bytes, std::size_t size, DbHeader& header);

// Fills the trailer of a data page (page number and CRC); returns the CRC-32
// of the whole page, trailer included.
std::uint32_t SealPage(std::uint8_t page[kPageSize], std::uint32_t pageNo);
// True when the trailer names pageNo and its CRC matches.
bool PageIsSound(const std::uint8_t page[kPageSize], std::uint32_t pageNo);

Id16 NewRandomId();
std::string IdToHex(const Id16& id);

}  // namespace dominosim
