// Whole numbers in the text arkctl reads (its options, the service's lines).
#pragma once

#include <charconv>
#include <optional>
#include <string_view>

namespace ark {

// The number that text spells in decimal digits, all of it; nullopt for
// anything else, and for a number beyond T.
template <typename T>
std::optional<T> ParseWhole(std::string_view text) {
  T value{};
  const char* end = text.data() + text.size();
  const std::from_chars_result parsed = std::from_chars(text.data(), end, value);
  if (text.empty() || text.front() == '-' || parsed.ec != std::errc() || parsed.ptr != end) return std::nullopt;
  return value;
}

}  // namespace ark
