// ALLOWED_CLIENTS: which client addresses the service talks to.
#include <gtest/gtest.h>

#include "net/client_filter.h"

namespace ark {

namespace {

constexpr std::uint32_t Ip(unsigned a, unsigned b, unsigned c, unsigned d) {
  return (a << 24) | (b << 16) | (c << 8) | d;
}

const struct {
  const char* list;
  std::vector<std::uint32_t> admitted, refused;
  std::size_t invalidEntries;
} kRows[] = {
    {"", {Ip(8, 8, 8, 8)}, {}, 0},
    {"  ", {Ip(8, 8, 8, 8)}, {}, 0},
    {" 127.0.0.1 , 10.1.0.0/16,192.168.5.7/32 ",
     {Ip(127, 0, 0, 1), Ip(10, 1, 255, 3), Ip(192, 168, 5, 7)},
     {Ip(127, 0, 0, 2), Ip(10, 2, 0, 1), Ip(192, 168, 5, 8)},
     0},
    {"10.1.2.3/8", {Ip(10, 200, 0, 1)}, {Ip(11, 1, 2, 3)}, 0},  // host bits set: still the network
    {"0.0.0.0/0", {Ip(1, 2, 3, 4)}, {}, 0},
    {"bogus,127.0.0.1", {Ip(127, 0, 0, 1)}, {Ip(127, 0, 0, 2)}, 1},
    {",,", {}, {Ip(127, 0, 0, 1)}, 0},  // separators only: a list admitting nobody
    // Malformed entries match nobody: a list of them fails closed.
    {"localhost,1.2.3,1.2.3.4.5,256.1.1.1,1.2.3.4/33,1.2.3.4/,1..3.4,-1.2.3.4,1.2.3.4/-1,1.2.3.4 5",
     {},
     {Ip(1, 2, 3, 4), Ip(127, 0, 0, 1)},
     10},
};

class ClientFilterTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(ClientFilterTest, AddressesAndRangesAdmitExactlyTheirClients) {
  const auto& row = kRows[GetParam()];
  const ClientFilter filter = ParseAllowedClients(row.list);
  for (std::uint32_t client : row.admitted) EXPECT_TRUE(IsClientAllowed(filter, client)) << client;
  for (std::uint32_t client : row.refused) EXPECT_FALSE(IsClientAllowed(filter, client)) << client;
  EXPECT_EQ(filter.invalidEntries.size(), row.invalidEntries);
}
INSTANTIATE_TEST_SUITE_P(Rows, ClientFilterTest, ::testing::Range<std::size_t>(0, std::size(kRows)));

}  // namespace

}  // namespace ark
