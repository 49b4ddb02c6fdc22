// Host checks and file utilities shared by backup, snapshot and restore.
#include "domino/host_utils.h"

#include <array>
#include <cctype>
#include <cstdio>
#include <limits>

#include "domino/domino_api.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/process.h"

namespace ark {

namespace {

constexpr std::size_t kMaxPath = 260;  // buffer size, terminator included
constexpr WORD kTranslateToPlatform = 1;
constexpr WORD kWholeText = 0xFFFF;
constexpr std::size_t kTranslatedSize = 256;

bool IsDriveRoot(const std::string& path) {
  return path.size() >= 2 && path.size() <= 3 && path[1] == ':' &&
         (path.size() == 2 || path[2] == '\\' || path[2] == '/');
}

// Index of the first "\" that ends a level to create: after "X:\" for a
// drive path, after "\\server\share\" for a UNC path, else the first one.
std::size_t FirstLevelEnd(const std::string& path) {
  if (path.size() >= 2 && path[1] == ':') return path.find('\\', 3);
  if (path.rfind("\\\\", 0) == 0) {
    std::size_t server = path.find('\\', 2);
    if (server == std::string::npos) return std::string::npos;
    std::size_t share = path.find('\\', server + 1);
    if (share == std::string::npos) return std::string::npos;
    return path.find('\\', share + 1);
  }
  return path.find('\\', path.rfind('\\', 0) == 0 ? 1 : 0);
}

}  // namespace

bool IsDominoRunning() { return platform::IsProcessRunning({"nserver", "nlnotes"}); }

bool GetFreeDiskMegabytes(const std::string& driveLetter, std::uint32_t& megabytes) {
  if (driveLetter.empty() || !std::isalpha(static_cast<unsigned char>(driveLetter[0]))) return false;
  const std::string root = std::string(1, driveLetter[0]) + ":\\";
  std::uint64_t freeBytes = 0;
  if (platform::GetDiskFreeSpace(root, freeBytes) != ERROR_SUCCESS) return false;
  const std::uint64_t mb = freeBytes >> 20;
  megabytes = mb > std::numeric_limits<std::uint32_t>::max() ? std::numeric_limits<std::uint32_t>::max()
                                                            : std::uint32_t(mb);
  return true;
}

int DirectoryExists(const std::string& path) {
  if (path.empty()) return -1;
  const std::string dir = path.back() == '\\' ? path : path + "\\";
  const DWORD attributes = platform::GetFileAttributes(dir);
  if (attributes == INVALID_FILE_ATTRIBUTES) return 1;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? 0 : 1;
}

namespace {

// Makes dir, and the directories above it that are missing, from the
// deepest up: a new directory in an existing one costs one call, not a look
// at every level. firstLevel: where the first level that may be made ends.
bool MakeDirectoryAndParents(const std::string& dir, std::size_t firstLevel) {
  DWORD error = platform::CreateDirectory(dir);
  // Made meanwhile by someone else counts as made.
  if (error == ERROR_SUCCESS || error == ERROR_ALREADY_EXISTS) return true;
  if (error != ERROR_PATH_NOT_FOUND) return false;
  const std::size_t cut = dir.rfind('\\');
  if (cut == std::string::npos || cut < firstLevel) return false;  // the root itself is missing
  if (!MakeDirectoryAndParents(dir.substr(0, cut), firstLevel)) return false;
  error = platform::CreateDirectory(dir);
  return error == ERROR_SUCCESS || error == ERROR_ALREADY_EXISTS;
}

}  // namespace

int CreateDirectoryTree(const std::string& path) {
  if (path.empty()) return -1;
  std::string buffer = path;
  if (buffer.back() != '\\') buffer += '\\';
  if (buffer.size() >= kMaxPath) return 0;
  const std::size_t firstLevel = FirstLevelEnd(buffer);
  if (firstLevel == std::string::npos) return 1;  // a root: nothing to make
  buffer.pop_back();
  // Mostly the directory is there already (a backup writes many files into
  // each): one look.
  if (platform::GetFileAttributes(buffer) != INVALID_FILE_ATTRIBUTES) return 1;
  return MakeDirectoryAndParents(buffer, firstLevel) ? 1 : 0;
}

int DeleteDirectoryTree(const std::string& path) {
  if (path.empty()) return -1;
  if (path.size() >= kMaxPath) return int(ERROR_FILENAME_EXCED_RANGE);
  // A whole volume is never deleted through this path.
  if (IsDriveRoot(path)) return int(ERROR_ACCESS_DENIED);
  return int(platform::DeleteTree(path));
}

bool CreateDominoDirectory(const std::string& name) {
  std::array<char, kTranslatedSize> translated{};
  if (Domino().TranslatePath(kTranslateToPlatform, name.c_str(), kWholeText, translated.data(),
                             WORD(translated.size())) != NOERROR) {
    return true;
  }
  translated.back() = '\0';
  const DWORD error = platform::CreateDirectory(translated.data());
  return !(error == ERROR_SUCCESS || error == ERROR_ALREADY_EXISTS);
}

bool CopyOneFile(const std::string& from, const std::string& to, bool failIfExists) {
  return platform::CopyFile(from, to, failIfExists) == ERROR_SUCCESS;
}

std::string LocalTimeText() {
  SYSTEMTIME now;
  platform::GetLocalTime(now);
  return LocalTimeText(now);
}

std::string LocalTimeText(const SYSTEMTIME& t) {
  char text[64];
  std::snprintf(text, sizeof text, "%d/%d/%d %02d:%02d:%02d:%02d", int(t.wMonth), int(t.wDay),
                int(t.wYear), int(t.wHour), int(t.wMinute), int(t.wSecond), int(t.wMilliseconds));
  return text;
}

}  // namespace ark
