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
  // The listing leaves "." and ".." out and costs no status call per file.
  std::vector<platform::DirectoryName> entries;
  DWORD error = platform::ListDirectoryNames(d, entries);
  if (error != ERROR_SUCCESS) return error;
  for (const platform::DirectoryName& entry : entries) {
    if (entry.directory) {
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
