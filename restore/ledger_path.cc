#include "restore/ledger_path.h"

#include <vector>

#include "platform/files.h"
#include "platform/text.h"

std::string ResolveLastComponentCase(const std::string& path) {
  if (path.empty() || platform::GetFileAttributes(path) != INVALID_FILE_ATTRIBUTES) return path;
  std::string trimmed = path;
  while (!trimmed.empty() && trimmed.back() == '\\') trimmed.pop_back();
  const std::size_t separator = trimmed.find_last_of('\\');
  if (separator == std::string::npos) return path;
  const std::string parent = trimmed.substr(0, separator + 1);
  const std::string name = trimmed.substr(separator + 1);
  if (name.empty() || name.find_first_of("*?") != std::string::npos) return path;
  std::vector<platform::FindData> entries;
  if (platform::FindFiles(trimmed, entries) != ERROR_SUCCESS) return path;
  for (const platform::FindData& entry : entries) {
    if (platform::EqualsNoCase(entry.name, name)) {
      return parent + entry.name + path.substr(trimmed.size());
    }
  }
  return path;
}
