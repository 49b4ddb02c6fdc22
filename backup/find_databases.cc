// Finding the database files of a data directory.
#include <string_view>
#include <vector>

#include "backup/database_backup.h"
#include "backup/path_text.h"
#include "platform/files.h"

namespace {

// The extension of a file name as the platform's path splitter sees it: from
// the last dot on, or empty.
std::string_view Extension(std::string_view name) {
  std::size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? std::string_view() : name.substr(dot);
}

bool IsDatabaseName(std::string_view name) {
  std::string_view ext = Extension(name);
  if (ext.size() != 4) return false;
  return backup_detail::EndsWithNoCase(ext, ".nsf") || backup_detail::EndsWithNoCase(ext, ".ntf") ||
         backup_detail::EndsWithNoCase(ext, ".box");
}

}  // namespace

DWORD FindDatabases(const std::string& directory, std::vector<DatabaseEntry>& list) {
  const std::string d = backup_detail::WithBackslash(directory);
  std::vector<platform::FindData> entries;
  DWORD error = platform::FindFiles(d + "*.*", entries);
  if (error != ERROR_SUCCESS) return error;
  for (const platform::FindData& entry : entries) {
    if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (entry.name == "." || entry.name == "..") continue;
      // A subdirectory's databases come where the subdirectory is met; a
      // subdirectory that cannot be listed is passed over.
      FindDatabases(d + entry.name + "\\", list);
    } else if (IsDatabaseName(entry.name)) {
      DatabaseEntry found;
      found.path = d + entry.name;
      list.push_back(std::move(found));
    }
  }
  return ERROR_SUCCESS;
}
