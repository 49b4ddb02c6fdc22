#include "platform/shared/wildcard.h"

namespace platform::shared {
namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// '*' any run of characters, '?' any one; letter case ignored.
bool GlobMatch(std::string_view pattern, std::string_view name) {
  std::size_t p = 0, n = 0, starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || Lower(pattern[p]) == Lower(name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace

bool WildcardMatch(std::string_view pattern, std::string_view name) {
  if (pattern == "*" || pattern == "*.*") return true;
  if (GlobMatch(pattern, name)) return true;
  if (pattern.ends_with(".*") && GlobMatch(pattern.substr(0, pattern.size() - 2), name)) return true;
  if (pattern.ends_with('.') && name.find('.') == std::string_view::npos &&
      GlobMatch(pattern.substr(0, pattern.size() - 1), name)) {
    return true;
  }
  return false;
}

}  // namespace platform::shared
