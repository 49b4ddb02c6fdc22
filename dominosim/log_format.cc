#include "dominosim/log_format.h"

#include <cstdio>
#include <cstring>

#include "dominosim/checksum.h"
#include "dominosim/le_bytes.h"

namespace dominosim {
namespace {

constexpr std::uint32_t kRecordMagic = 0x31445352;  // "RSD1"
constexpr char kExtentMagic[8] = {'D', 'S', 'I', 'M', 'T', 'X', 'N', '1'};
constexpr char kControlMagic[8] = {'D', 'S', 'I', 'M', 'L', 'C', 'T', '1'};

}  // namespace

void EncodeRecordHeader(const RecordHeader& h, std::uint8_t out[kRecordHeaderSize]) {
  PutU32(out, kRecordMagic);
  PutU16(out + 4, std::uint16_t(h.type));
  PutU16(out + 6, 0);
  PutU64(out + 8, h.lsn);
  std::memcpy(out + 16, h.instanceId.data(), 16);
  PutU32(out + 32, h.pageNo);
  PutU32(out + 36, h.payloadSize);
  PutU32(out + 40, h.payloadCrc);
  PutU32(out + 44, Crc32(out, 44));
}

bool DecodeRecordHeader(const std::uint8_t in[kRecordHeaderSize], RecordHeader& h) {
  if (GetU32(in) != kRecordMagic || GetU32(in + 44) != Crc32(in, 44)) return false;
  std::uint16_t type = GetU16(in + 4);
  if (type < 1 || type > 4) return false;
  h.type = RecordType(type);
  h.lsn = GetU64(in + 8);
  std::memcpy(h.instanceId.data(), in + 16, 16);
  h.pageNo = GetU32(in + 32);
  h.payloadSize = GetU32(in + 36);
  h.payloadCrc = GetU32(in + 40);
  return true;
}

void EncodeExtentHeader(const ExtentHeader& h, std::uint8_t out[kExtentHeaderSize]) {
  std::memset(out, 0, kExtentHeaderSize);
  std::memcpy(out, kExtentMagic, 8);
  PutU32(out + 8, h.version);
  PutU32(out + 12, h.number);
  std::memcpy(out + 16, h.logId.data(), 16);
  PutU64(out + 32, h.firstLsn);
  PutU32(out + 40, Crc32(out, 40));
}

bool DecodeExtentHeader(const std::uint8_t in[kExtentHeaderSize], ExtentHeader& h) {
  const std::uint32_t version = GetU32(in + 8);
  if (std::memcmp(in, kExtentMagic, 8) != 0 || (version != 1 && version != kExtentVersion) ||
      GetU32(in + 40) != Crc32(in, 40))
    return false;
  h.version = version;
  h.number = GetU32(in + 12);
  std::memcpy(h.logId.data(), in + 16, 16);
  h.firstLsn = GetU64(in + 32);
  return true;
}

void EncodeControl(const LogControl& c, std::uint8_t out[kControlSize]) {
  std::memset(out, 0, kControlSize);
  std::memcpy(out, kControlMagic, 8);
  PutU32(out + 8, 1);
  std::memcpy(out + 12, c.logId.data(), 16);
  PutU32(out + 28, c.currentExtent);
  PutU32(out + 32, c.writeOffset);
  PutU64(out + 36, c.nextLsn);
  PutU32(out + 44, c.extentBytes);
  PutU32(out + 48, c.oldestPresent);
  PutU32(out + 52, c.archiveLow);
  PutU64(out + 56, c.archivedBits);
  PutU64(out + 64, c.created);
  PutU32(out + 72, Crc32(out, 72));
}

bool DecodeControl(const std::uint8_t in[kControlSize], LogControl& c) {
  if (std::memcmp(in, kControlMagic, 8) != 0 || GetU32(in + 8) != 1 ||
      GetU32(in + 72) != Crc32(in, 72))
    return false;
  std::memcpy(c.logId.data(), in + 12, 16);
  c.currentExtent = GetU32(in + 28);
  c.writeOffset = GetU32(in + 32);
  c.nextLsn = GetU64(in + 36);
  c.extentBytes = GetU32(in + 44);
  c.oldestPresent = GetU32(in + 48);
  c.archiveLow = GetU32(in + 52);
  c.archivedBits = GetU64(in + 56);
  c.created = GetU64(in + 64);
  return c.currentExtent >= 1 && c.writeOffset >= kExtentHeaderSize && c.nextLsn >= 1 &&
         c.oldestPresent <= c.currentExtent && c.archiveLow <= c.currentExtent;
}

std::string ExtentFileName(std::uint32_t number) {
  char name[32];
  std::snprintf(name, sizeof name, "S%07u.TXN", unsigned(number));
  return name;
}

}  // namespace dominosim
