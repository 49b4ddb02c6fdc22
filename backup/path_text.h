// Small path-text helpers of the backup engine (Windows paths as text).
#pragma once

#include <string>
#include <string_view>

namespace backup_detail {

// The directory with a "\" appended unless it already ends in one.
inline std::string WithBackslash(std::string directory) {
  if (directory.empty() || directory.back() != '\\') directory += '\\';
  return directory;
}

// True when name ends in suffix, compared without regard to ASCII case.
inline bool EndsWithNoCase(std::string_view name, std::string_view suffix) {
  if (name.size() < suffix.size()) return false;
  std::string_view tail = name.substr(name.size() - suffix.size());
  for (std::size_t i = 0; i < suffix.size(); ++i) {
    char a = tail[i], b = suffix[i];
    if (a >= 'A' && a <= 'Z') a = char(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = char(b - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

}  // namespace backup_detail
