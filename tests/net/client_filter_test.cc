// ALLOWED_CLIENTS: which client addresses the service talks to.
#include <gtest/gtest.h>

#include "net/client_filter.h"

namespace {

constexpr std::uint32_t Ip(unsigned a, unsigned b, unsigned c, unsigned d) {
  return (a << 24) | (b << 16) | (c << 8) | d;
}

TEST(ClientFilterTest, AddressesAndRangesAdmitExactlyTheirClients) {
  const char* list = " 127.0.0.1 , 10.1.0.0/16,192.168.5.7/32 ";
  const struct {
    const char* list;
    std::uint32_t client;
    bool admitted;
  } kRows[] = {{"", Ip(8, 8, 8, 8), true},          {"  ", Ip(8, 8, 8, 8), true},
               {list, Ip(127, 0, 0, 1), true},      {list, Ip(127, 0, 0, 2), false},
               {list, Ip(10, 1, 255, 3), true},     {list, Ip(10, 2, 0, 1), false},
               {list, Ip(192, 168, 5, 7), true},    {list, Ip(192, 168, 5, 8), false},
               {"10.1.2.3/8", Ip(10, 200, 0, 1), true},  // host bits set: still the network
               {"0.0.0.0/0", Ip(1, 2, 3, 4), true}, {"bogus,127.0.0.1", Ip(127, 0, 0, 1), true},
               {"bogus,127.0.0.1", Ip(127, 0, 0, 2), false},
               {",,", Ip(127, 0, 0, 1), false}};  // separators only: a list admitting nobody
  for (const auto& row : kRows) {
    EXPECT_EQ(IsClientAllowed(ParseAllowedClients(row.list), row.client), row.admitted) << row.list << " " << row.client;
  }
  EXPECT_TRUE(ParseAllowedClients(list).invalidEntries.empty());
}

// Malformed entries match nobody: a list of them fails closed.
TEST(ClientFilterTest, MalformedEntriesMatchNobodyAndTheListFailsClosed) {
  for (const char* bad : {"localhost", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.4/33", "1.2.3.4/",
                          "1..3.4", "-1.2.3.4", "1.2.3.4/-1", "1.2.3.4 5"}) {
    ClientFilter filter = ParseAllowedClients(bad);
    EXPECT_FALSE(filter.everyone) << bad;
    EXPECT_EQ(filter.invalidEntries.size(), 1u) << bad;
    EXPECT_FALSE(IsClientAllowed(filter, Ip(1, 2, 3, 4))) << bad;
    EXPECT_FALSE(IsClientAllowed(filter, Ip(127, 0, 0, 1))) << bad;
  }
}

}  // namespace
