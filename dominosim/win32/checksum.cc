// The Windows build's CRC-32 (zlib) and SHA-256 (the system's CNG).
#include "dominosim/checksum.h"

#include <windows.h>
#include <bcrypt.h>
#include <zlib.h>

#include <limits>

namespace dominosim {

std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t size) {
  const auto* p = static_cast<const Bytef*>(data);
  uLong value = crc;
  // zlib takes at most a uInt of bytes at a time.
  while (size > 0) {
    const uInt n = size > std::numeric_limits<uInt>::max() ? std::numeric_limits<uInt>::max() : uInt(size);
    value = ::crc32(value, p, n);
    p += n;
    size -= n;
  }
  return std::uint32_t(value);
}

std::uint32_t Crc32(const void* data, std::size_t size) { return Crc32(0, data, size); }

struct Sha256::Impl {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  ~Impl() {
    if (hash != nullptr) ::BCryptDestroyHash(hash);
    if (algorithm != nullptr) ::BCryptCloseAlgorithmProvider(algorithm, 0);
  }
};

Sha256::Sha256() : impl_(std::make_unique<Impl>()) {
  if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&impl_->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
      !BCRYPT_SUCCESS(::BCryptCreateHash(impl_->algorithm, &impl_->hash, nullptr, 0, nullptr, 0, 0))) {
    impl_.reset();
  }
}

Sha256::~Sha256() = default;

void Sha256::Update(const void* data, std::size_t size) {
  auto* p = static_cast<PUCHAR>(const_cast<void*>(data));
  while (impl_ != nullptr && size > 0) {
    const ULONG n = size > 0x40000000u ? 0x40000000u : ULONG(size);
    if (!BCRYPT_SUCCESS(::BCryptHashData(impl_->hash, p, n, 0))) {
      impl_.reset();
      return;
    }
    p += n;
    size -= n;
  }
}

std::string Sha256::FinalHex() {
  std::uint8_t digest[32];
  if (impl_ == nullptr || !BCRYPT_SUCCESS(::BCryptFinishHash(impl_->hash, digest, sizeof digest, 0))) return {};
  return ToHex(digest, sizeof digest);
}

}  // namespace dominosim
