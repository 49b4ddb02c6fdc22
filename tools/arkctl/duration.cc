#include "tools/arkctl/duration.h"

#include "tools/arkctl/numbers.h"

namespace ark {

std::optional<std::int64_t> ParseDuration(const std::string& text) {
  if (text.empty() || text.size() > 12) return std::nullopt;
  std::size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
  if (digits == 0 || text.size() - digits > 1) return std::nullopt;
  const std::int64_t number = *ParseWhole<std::int64_t>(std::string_view(text).substr(0, digits));
  switch (digits == text.size() ? 's' : text.back()) {
    case 's': return number;
    case 'm': return number * 60;
    case 'h': return number * 3600;
    case 'd': return number * 86400;
    default: return std::nullopt;
  }
}

}  // namespace ark
