// Which clients may talk to the service: the optional ALLOWED_CLIENTS
// setting of ark.ini (section NOTES), a comma-separated list of IPv4
// addresses and CIDR ranges. Absent or empty: everyone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ark {

struct ClientFilter {
  bool everyone = true;
  struct Range {
    std::uint32_t network = 0;  // host byte order
    std::uint32_t mask = 0;
  };
  std::vector<Range> ranges;
  std::vector<std::string> invalidEntries;  // match nothing
};

// Parses the setting's text. An entry that is not an address or range
// matches no client (the list fails closed) and is kept in invalidEntries.
ClientFilter ParseAllowedClients(const std::string& text);
// True for everyone, or when the address (host byte order) lies in one of
// the ranges.
bool IsClientAllowed(const ClientFilter& filter, std::uint32_t address);
// Reads ALLOWED_CLIENTS from ark.ini now (edits apply to the next client).
// A missing ark.ini or setting gives everyone; never fails.
ClientFilter ReadAllowedClients();
// "a.b.c.d" for an address in host byte order.
std::string AddressText(std::uint32_t address);

}  // namespace ark
