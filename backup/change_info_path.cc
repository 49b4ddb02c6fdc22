// Where the change information of a database is kept below an ArkLedger
// directory: the tree mirrors the database's directory on its volume.
#include <string>

#include "backup/database_backup.h"
#include "platform/text.h"

std::string MakeChangeInfoPath(const std::string& ledgerDirectory,
                               const std::string& databasePath) {
  // Split like the platform's path splitter: drive, directory (up to the
  // last separator), file name and extension (from the last dot).
  std::string rest = databasePath;
  if (rest.size() >= 2 && rest[1] == ':') rest.erase(0, 2);
  std::size_t lastSeparator = rest.find_last_of("\\/");
  std::string directory = lastSeparator == std::string::npos ? "" : rest.substr(0, lastSeparator + 1);
  std::string file = lastSeparator == std::string::npos ? rest : rest.substr(lastSeparator + 1);
  std::size_t dot = file.rfind('.');
  std::string fileName = dot == std::string::npos ? file : file.substr(0, dot);
  std::string extension = dot == std::string::npos ? "" : file.substr(dot);

  // ".nsf", ".ntf" and ".box" in any case become ".nsf.dat", ".ntf.dat" and
  // ".box.dat"; any other extension is kept lower-cased, with ".dat" after it,
  // so that no database's file can land on another's.
  std::string relative = directory + fileName + platform::ToLowerAnsi(extension) + ".dat";
  if (!relative.empty() && relative.front() == '\\') relative.erase(0, 1);

  std::string path = ledgerDirectory;
  if (path.empty() || (path.back() != '\\' && path.back() != '/')) path += '\\';
  return path + relative;
}
