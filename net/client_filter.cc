#include "net/client_filter.h"

#include <cstdio>

#include "domino/settings.h"
#include "platform/profile.h"

namespace ark {

namespace {

constexpr std::size_t kSettingCapacity = 8192;

std::string Trim(const std::string& text) {
  std::size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return "";
  std::size_t end = text.find_last_not_of(" \t");
  return text.substr(begin, end - begin + 1);
}

bool ParseNumber(const std::string& text, unsigned max, unsigned& out) {
  if (text.empty() || text.size() > 3) return false;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + unsigned(c - '0');
  }
  if (value > max) return false;
  out = value;
  return true;
}

bool ParseAddress(const std::string& text, std::uint32_t& out) {
  std::uint32_t address = 0;
  std::size_t pos = 0;
  for (int part = 0; part < 4; ++part) {
    std::size_t end = text.find('.', pos);
    if ((part < 3) != (end != std::string::npos)) return false;
    if (end == std::string::npos) end = text.size();
    unsigned value = 0;
    if (!ParseNumber(text.substr(pos, end - pos), 255, value)) return false;
    address = (address << 8) | value;
    pos = end + 1;
  }
  out = address;
  return true;
}

bool ParseEntry(const std::string& entry, ClientFilter::Range& range) {
  std::size_t slash = entry.find('/');
  unsigned bits = 32;
  if (slash != std::string::npos && !ParseNumber(entry.substr(slash + 1), 32, bits)) return false;
  std::uint32_t address = 0;
  if (!ParseAddress(entry.substr(0, slash), address)) return false;
  range.mask = bits == 0 ? 0 : 0xFFFFFFFFu << (32 - bits);
  range.network = address & range.mask;
  return true;
}

}  // namespace

ClientFilter ParseAllowedClients(const std::string& text) {
  ClientFilter filter;
  if (Trim(text).empty()) return filter;
  filter.everyone = false;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t comma = text.find(',', pos);
    if (comma == std::string::npos) comma = text.size();
    std::string entry = Trim(text.substr(pos, comma - pos));
    if (!entry.empty()) {
      ClientFilter::Range range;
      if (ParseEntry(entry, range))
        filter.ranges.push_back(range);
      else
        filter.invalidEntries.push_back(entry);
    }
    pos = comma + 1;
  }
  return filter;
}

bool IsClientAllowed(const ClientFilter& filter, std::uint32_t address) {
  if (filter.everyone) return true;
  for (const ClientFilter::Range& range : filter.ranges)
    if ((address & range.mask) == range.network) return true;
  return false;
}

ClientFilter ReadAllowedClients() {
  std::string text;
  platform::GetPrivateProfileString("NOTES", "ALLOWED_CLIENTS", "", text, kSettingCapacity,
                                    GetArkIniPath());
  return ParseAllowedClients(text);
}

std::string AddressText(std::uint32_t address) {
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", (address >> 24) & 255u, (address >> 16) & 255u,
                (address >> 8) & 255u, address & 255u);
  return text;
}

}  // namespace ark
