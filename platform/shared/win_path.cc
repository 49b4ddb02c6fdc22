#include "platform/shared/win_path.h"

namespace platform::shared {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsBadNameCharacter(char c) {
  return static_cast<unsigned char>(c) < 32 || c == '*' || c == '?' || c == '"' || c == '<' ||
         c == '>' || c == '|' || c == ':';
}

}  // namespace

DWORD SplitWindowsPath(std::string_view winPath, std::vector<std::string_view>& names) {
  names.clear();
  if (winPath.size() < 2 || winPath[1] != ':') return ERROR_PATH_NOT_FOUND;
  std::string_view rest = winPath.substr(2);
  while (!rest.empty()) {
    std::size_t end = 0;
    while (end < rest.size() && !IsSeparator(rest[end])) ++end;
    const std::string_view name = rest.substr(0, end);
    rest.remove_prefix(end == rest.size() ? end : end + 1);
    if (name.empty()) continue;
    if (name == "." || name == "..") return ERROR_INVALID_NAME;
    for (char c : name) {
      if (IsBadNameCharacter(c)) return ERROR_INVALID_NAME;
    }
    names.push_back(name);
  }
  return ERROR_SUCCESS;
}

}  // namespace platform::shared
