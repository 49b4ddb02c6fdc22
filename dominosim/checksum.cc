#include "dominosim/checksum.h"

#include <libdeflate.h>

namespace dominosim {

// libdeflate's CRC-32 (the zlib polynomial) uses the processor's carry-less
// multiplication where it has it: checksums cost little next to the I/O.
std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t size) {
  return libdeflate_crc32(crc, data, size);
}

std::uint32_t Crc32(const void* data, std::size_t size) { return libdeflate_crc32(0, data, size); }

}  // namespace dominosim
