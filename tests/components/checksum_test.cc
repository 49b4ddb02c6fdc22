// Both builds of the simulated runtime must give the same bytes: its CRC-32
// and SHA-256 come from different libraries on POSIX and on Windows, so the
// known values of each and the digest of one fixed database are checked on
// both (the same values here run under Wine).
#include <gtest/gtest.h>

#include <cstring>

#include "dominosim/checksum.h"
#include "dominosim/database.h"
#include "dominosim/digest.h"
#include "dominosim/status.h"
#include "tests/support/temp_host.h"

namespace dominosim {
namespace {

// A text's CRC-32, also continued over its second half, and its SHA-256.
struct Known { const char* text; std::uint32_t crc; const char* sha256; };
void PrintTo(const Known& k, std::ostream* os) { *os << (*k.text != '\0' ? k.text : "Empty"); }
const Known kKnown[] = {
    {"", 0x00000000u, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"123456789", 0xCBF43926u, "15e2b0d3c33891ebb0f1ef609ec419420c20e320ce94c65fbc8c3312448eb225"},
    {"abc", 0x352441C2u, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
};
struct StandInChecksums : ::testing::TestWithParam<Known> {};

TEST_P(StandInChecksums, KnownValues) {
  const Known& k = GetParam();
  const std::size_t n = std::strlen(k.text);
  EXPECT_EQ(Crc32(k.text, n), k.crc);
  EXPECT_EQ(Crc32(Crc32(k.text, n / 2), k.text + n / 2, n - n / 2), k.crc);
  Sha256 sha;
  ASSERT_TRUE(sha.ok());
  sha.Update(k.text, n);
  EXPECT_EQ(sha.FinalHex(), k.sha256);
}
INSTANTIATE_TEST_SUITE_P(Rows, StandInChecksums, ::testing::ValuesIn(kKnown));

TEST(StandInChecksums, OneDatabasesDigest) {
  // A database made from fixed parameters: its pages (filled and sealed with
  // CRCs), its header and its digest are the same on every build.
  TempHostRoot host;
  CreateParams params;
  params.dataPages = 40;
  params.instanceId = Id16{};
  for (std::size_t i = 0; i < params.instanceId.size(); ++i) params.instanceId[i] = std::uint8_t(i * 7 + 1);
  params.logId = params.instanceId;
  params.seed = 12345;
  params.created = 0x01D9000000000000ull;
  std::memcpy(params.dbRecord.data(), "Fixed database", 14);
  const std::string path = (host.path() / "fixed.nsf").string();
  ASSERT_EQ(Database::Create(path, params), NOERROR);
  std::string digest;
  ASSERT_EQ(DigestDatabase(path, (host.path() / "state").string(), &digest), NOERROR);
  EXPECT_EQ(digest, "ba208ec3128c64dab40e634b7918b29fec1cfc05366d7aa53c38fc55329b3b7c");
}

}  // namespace
}  // namespace dominosim
