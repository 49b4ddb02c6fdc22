#include "dominosim/checksum.h"

#include <libdeflate.h>
#include <openssl/evp.h>

namespace dominosim {

// libdeflate's CRC-32 (the zlib polynomial) uses the processor's carry-less
// multiplication where it has it: checksums cost little next to the I/O.
std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t size) {
  return libdeflate_crc32(crc, data, size);
}

std::uint32_t Crc32(const void* data, std::size_t size) { return libdeflate_crc32(0, data, size); }

struct Sha256::Impl {
  EVP_MD_CTX* ctx = nullptr;
  ~Impl() { EVP_MD_CTX_free(ctx); }
};

Sha256::Sha256() : impl_(std::make_unique<Impl>()) {
  impl_->ctx = EVP_MD_CTX_new();
  if (impl_->ctx == nullptr || EVP_DigestInit_ex(impl_->ctx, EVP_sha256(), nullptr) != 1) impl_.reset();
}

Sha256::~Sha256() = default;

void Sha256::Update(const void* data, std::size_t size) {
  if (impl_ != nullptr) EVP_DigestUpdate(impl_->ctx, data, size);
}

std::string Sha256::FinalHex() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (impl_ == nullptr || EVP_DigestFinal_ex(impl_->ctx, digest, &length) != 1) return {};
  return ToHex(digest, length);
}

}  // namespace dominosim
