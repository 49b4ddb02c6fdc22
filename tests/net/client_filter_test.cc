// ALLOWED_CLIENTS: which client addresses the service talks to.
#include <gtest/gtest.h>

#include "net/client_filter.h"

namespace {

constexpr std::uint32_t Ip(unsigned a, unsigned b, unsigned c, unsigned d) {
  return (a << 24) | (b << 16) | (c << 8) | d;
}

TEST(ClientFilterTest, AddressesAndRangesAdmitExactlyTheirClients) {
  EXPECT_TRUE(ParseAllowedClients("").everyone);
  EXPECT_TRUE(ParseAllowedClients("  ").everyone);
  EXPECT_TRUE(IsClientAllowed(ParseAllowedClients(""), Ip(8, 8, 8, 8)));

  ClientFilter filter = ParseAllowedClients(" 127.0.0.1 , 10.1.0.0/16,192.168.5.7/32 ");
  EXPECT_FALSE(filter.everyone);
  EXPECT_TRUE(filter.invalidEntries.empty());
  EXPECT_TRUE(IsClientAllowed(filter, Ip(127, 0, 0, 1)));
  EXPECT_FALSE(IsClientAllowed(filter, Ip(127, 0, 0, 2)));
  EXPECT_TRUE(IsClientAllowed(filter, Ip(10, 1, 255, 3)));
  EXPECT_FALSE(IsClientAllowed(filter, Ip(10, 2, 0, 1)));
  EXPECT_TRUE(IsClientAllowed(filter, Ip(192, 168, 5, 7)));
  EXPECT_FALSE(IsClientAllowed(filter, Ip(192, 168, 5, 8)));

  // A range given with host bits set still means the network.
  EXPECT_TRUE(IsClientAllowed(ParseAllowedClients("10.1.2.3/8"), Ip(10, 200, 0, 1)));
  EXPECT_TRUE(IsClientAllowed(ParseAllowedClients("0.0.0.0/0"), Ip(1, 2, 3, 4)));
  EXPECT_EQ(AddressText(Ip(10, 0, 200, 1)), "10.0.200.1");
}

TEST(ClientFilterTest, MalformedEntriesMatchNobodyAndTheListFailsClosed) {
  for (const char* bad : {"localhost", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.4/33", "1.2.3.4/",
                          "1..3.4", "-1.2.3.4", "1.2.3.4/-1", "1.2.3.4 5"}) {
    ClientFilter filter = ParseAllowedClients(bad);
    EXPECT_FALSE(filter.everyone) << bad;
    ASSERT_EQ(filter.invalidEntries.size(), 1u) << bad;
    EXPECT_TRUE(filter.ranges.empty()) << bad;
    EXPECT_FALSE(IsClientAllowed(filter, Ip(1, 2, 3, 4))) << bad;
    EXPECT_FALSE(IsClientAllowed(filter, Ip(127, 0, 0, 1))) << bad;
  }
  // Valid entries beside a bad one still apply.
  ClientFilter mixed = ParseAllowedClients("bogus,127.0.0.1");
  EXPECT_TRUE(IsClientAllowed(mixed, Ip(127, 0, 0, 1)));
  EXPECT_FALSE(IsClientAllowed(mixed, Ip(127, 0, 0, 2)));
  // Separators only: a list was given, it admits nobody.
  EXPECT_FALSE(IsClientAllowed(ParseAllowedClients(",,"), Ip(127, 0, 0, 1)));
}

}  // namespace
