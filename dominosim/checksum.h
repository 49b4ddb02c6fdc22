// CRC-32 over byte ranges (every record, page and stream of the simulated
// runtime carries one) and SHA-256 (the digests of databases). Each build
// takes them from its platform's libraries: libdeflate and OpenSSL on
// POSIX (checksum.cc), zlib and the system's CNG on Windows
// (win32/checksum.cc); both give the same values.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace dominosim {

std::uint32_t Crc32(const void* data, std::size_t size);
// Continues a CRC over further bytes.
std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t size);

class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  // False when the library could not start a digest.
  bool ok() const { return impl_ != nullptr; }
  void Update(const void* data, std::size_t size);
  // The digest in lower-case hexadecimal; empty on failure.
  std::string FinalHex();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Lower-case hexadecimal of bytes.
std::string ToHex(const std::uint8_t* bytes, std::size_t size);

}  // namespace dominosim
