#include "dominosim/checksum.h"

#include <zlib.h>

namespace dominosim {

std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t size) {
  const auto* p = static_cast<const Bytef*>(data);
  // zlib takes lengths as uInt; feed large ranges in pieces.
  while (size > 0) {
    uInt n = size > (1u << 30) ? (1u << 30) : uInt(size);
    crc = std::uint32_t(crc32(crc, p, n));
    p += n;
    size -= n;
  }
  return crc;
}

std::uint32_t Crc32(const void* data, std::size_t size) {
  return Crc32(std::uint32_t(crc32(0, Z_NULL, 0)), data, size);
}

}  // namespace dominosim
