// Both builds of the simulated runtime must give the same bytes: its CRC-32
// and SHA-256 come from different libraries on POSIX and on Windows, so the
// known CRC-32 and the digest of one fixed database (its pages sealed with
// CRCs, then hashed with SHA-256) are checked on both (the same values here
// run under Wine).
#include <gtest/gtest.h>

#include <cstring>

#include "dominosim/checksum.h"
#include "dominosim/database.h"
#include "dominosim/digest.h"
#include "dominosim/status.h"
#include "tests/support/temp_host.h"

namespace dominosim {
namespace {

TEST(StandInChecksums, KnownCrcAndOneDatabasesDigest) {
  // The CRC-32 check value, also continued over a second part (as streams are).
  EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
  EXPECT_EQ(Crc32(Crc32("1234", 4), "56789", 5), 0xCBF43926u);
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
