// Deterministic page contents from a seed (splitmix64), for new databases
// and for the simulated server's workload.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace dominosim {

inline std::uint64_t SplitMix64(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

inline void FillBytes(std::uint8_t* out, std::size_t size, std::uint64_t seed) {
  std::uint64_t state = seed;
  std::size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    std::uint64_t v = SplitMix64(state);
    std::memcpy(out + i, &v, 8);
  }
  if (i < size) {
    std::uint64_t v = SplitMix64(state);
    std::memcpy(out + i, &v, size - i);
  }
}

}  // namespace dominosim
