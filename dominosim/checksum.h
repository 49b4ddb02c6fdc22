// CRC-32 over byte ranges; every record, page and stream of the
// simulated runtime carries one.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dominosim {

std::uint32_t Crc32(const void* data, std::size_t size);
// Continues a CRC over further bytes.
std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t size);

}  // namespace dominosim
