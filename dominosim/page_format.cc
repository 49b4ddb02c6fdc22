#include "dominosim/page_format.h"

#include <cstring>
#include <random>

#include "dominosim/checksum.h"
#include "dominosim/le_bytes.h"
#include "dominosim/status.h"

namespace dominosim {
namespace {

constexpr char kMagic[8] = {'D', 'S', 'I', 'M', 'N', 'S', 'F', '1'};
// Field offsets in the header page. Version 1 ends with the database record
// and its CRC at kOffCrcV1; version 2 puts the last commit time there.
constexpr std::size_t kOffVersion = 8, kOffPageSize = 12, kOffPageCount = 16, kOffInstance = 20,
                      kOffLogged = 36, kOffLogId = 40, kOffLastLsn = 56, kOffLastExtent = 64,
                      kOffCreated = 68, kOffRecord = 76, kOffLastCommit = 204, kOffCrc = 212, kOffEnd = 216;
constexpr std::size_t kOffCrcV1 = 204, kHeaderBytesV1 = 212;
static_assert(kOffRecord + kDbRecordSize == kOffLastCommit && kOffLastCommit == kOffCrcV1);
static_assert(kOffEnd + 4 == kHeaderBytes);

}  // namespace

void EncodeHeader(const DbHeader& h, std::uint8_t out[kHeaderBytes]) {
  std::memset(out, 0, kHeaderBytes);
  std::memcpy(out, kMagic, 8);
  PutU32(out + kOffVersion, kFormatVersion);
  PutU32(out + kOffPageSize, kPageSize);
  PutU32(out + kOffPageCount, h.pageCount);
  std::memcpy(out + kOffInstance, h.instanceId.data(), 16);
  PutU32(out + kOffLogged, h.logged);
  std::memcpy(out + kOffLogId, h.logId.data(), 16);
  PutU64(out + kOffLastLsn, h.lastLsn);
  PutU32(out + kOffLastExtent, h.lastExtent);
  PutU64(out + kOffCreated, h.created);
  std::memcpy(out + kOffRecord, h.dbRecord.data(), kDbRecordSize);
  PutU64(out + kOffLastCommit, h.lastCommit);
  PutU32(out + kOffCrc, Crc32(out, kOffCrc));
  PutU32(out + kOffEnd, 0);
}

STATUS DecodeHeader(const std::uint8_t* b, std::size_t size, DbHeader& h) {
  if (size < 8 || std::memcmp(b, kMagic, 8) != 0) return ERR_NOT_DATABASE;
  if (size < kHeaderBytesV1) return ERR_DB_CORRUPT;
  // Where the CRC lies depends on the version, which the CRC covers: a
  // version other than 2 is checked as version 1.
  const std::uint32_t version = GetU32(b + kOffVersion);
  const std::size_t crcAt = version == kFormatVersion ? kOffCrc : kOffCrcV1;
  if (size < crcAt + 4 || GetU32(b + crcAt) != Crc32(b, crcAt)) return ERR_DB_CORRUPT;
  if (version != 1 && version != kFormatVersion) return ERR_DB_VERSION;
  if (GetU32(b + kOffPageSize) != kPageSize) return ERR_DB_CORRUPT;
  h.formatVersion = version;
  h.pageCount = GetU32(b + kOffPageCount);
  if (h.pageCount == 0) return ERR_DB_CORRUPT;
  std::memcpy(h.instanceId.data(), b + kOffInstance, 16);
  h.logged = GetU32(b + kOffLogged);
  std::memcpy(h.logId.data(), b + kOffLogId, 16);
  h.lastLsn = GetU64(b + kOffLastLsn);
  h.lastExtent = GetU32(b + kOffLastExtent);
  h.created = GetU64(b + kOffCreated);
  std::memcpy(h.dbRecord.data(), b + kOffRecord, kDbRecordSize);
  h.lastCommit = version == 1 ? 0 : GetU64(b + kOffLastCommit);
  return NOERROR;
}

std::uint32_t SealPage(std::uint8_t page[kPageSize], std::uint32_t pageNo) {
  PutU32(page + kPagePayload, pageNo);
  std::uint32_t crc = Crc32(page, kPagePayload + 4);
  PutU32(page + kPagePayload + 4, crc);
  return Crc32(crc, page + kPagePayload + 4, 4);
}

bool PageIsSound(const std::uint8_t page[kPageSize], std::uint32_t pageNo) {
  return GetU32(page + kPagePayload) == pageNo &&
         GetU32(page + kPagePayload + 4) == Crc32(page, kPagePayload + 4);
}

Id16 NewRandomId() {
  std::random_device device;
  Id16 id{};
  for (std::size_t i = 0; i < id.size(); i += 4) PutU32(id.data() + i, device());
  return id;
}

std::string IdToHex(const Id16& id) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (std::uint8_t b : id) {
    out.push_back(kHex[b >> 4]);
    out.push_back(kHex[b & 15]);
  }
  return out;
}

}  // namespace dominosim
