// The host root and the drive map that turns Windows paths into host paths.
#include "platform/host.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/posix/kit/unique_fd.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace platform {
namespace {

constexpr char kDriveMapKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\DOS Devices";
constexpr char kComputerNameKey[] = "SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName";
constexpr char kDefaultProgramDirectory[] = "C:\\Program Files\\ark\\";

std::mutex g_rootMutex;
std::string g_root;
bool g_rootSet = false;

std::string CurrentDirectory() {
  char buffer[PATH_MAX];
  return ::getcwd(buffer, sizeof buffer) != nullptr ? std::string(buffer) : std::string(".");
}

// An absolute form of dir without trailing slashes, resolving symbolic links
// when the directory exists.
std::string AbsoluteDirectory(const std::string& dir) {
  char resolved[PATH_MAX];
  std::string out;
  if (::realpath(dir.c_str(), resolved) != nullptr) {
    out = resolved;
  } else {
    out = dir.empty() || dir.front() != '/' ? CurrentDirectory() + "/" + dir : dir;
  }
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  return out;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Characters Windows does not allow in a file name.
bool IsBadNameCharacter(char c) {
  return static_cast<unsigned char>(c) < 32 || c == '*' || c == '?' || c == '"' || c == '<' ||
         c == '>' || c == '|' || c == ':';
}

// True when path is dir or lies below it; rest receives the part below.
bool IsUnder(const std::string& path, const std::string& dir, std::string& rest) {
  if (dir.empty() || path.compare(0, dir.size(), dir) != 0) return false;
  if (path.size() == dir.size()) {
    rest.clear();
    return true;
  }
  if (dir == "/") {
    rest = path.substr(1);
    return true;
  }
  if (path[dir.size()] != '/') return false;
  rest = path.substr(dir.size() + 1);
  return true;
}

std::string SlashesToBackslashes(std::string s) {
  for (char& c : s) {
    if (c == '/') c = '\\';
  }
  return s;
}

std::string MappedDirectory(char letter) {
  std::string dir;
  const std::string name = std::string(1, letter) + ":";
  if (RegGetString(kDriveMapKey, name, dir) != ERROR_SUCCESS || dir.empty()) return {};
  // A relative mapping is taken relative to the host root.
  if (dir.front() != '/') dir = HostRoot() + "/" + dir;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

bool Exists(const std::string& hostPath) {
  struct stat st;
  return ::lstat(hostPath.c_str(), &st) == 0;
}

// Windows finds a name whatever its letter case; a POSIX file system does
// not. When dir/name is missing, the entry of dir whose name equals name
// ignoring case stands in for it (a name that exists nowhere stays as
// given, so new files keep the case their creator chose).
std::string NameAsItExists(const std::string& dir, std::string_view name) {
  std::string exact = std::string(name);
  if (Exists(dir + "/" + exact)) return exact;
  posix::UniqueDir listing(::opendir(dir.c_str()));
  if (!listing.valid()) return exact;
  while (const dirent* entry = ::readdir(listing.get())) {
    if (EqualsNoCase(entry->d_name, name)) return entry->d_name;
  }
  return exact;
}

}  // namespace

void SetHostRoot(const std::string& dir) {
  std::lock_guard<std::mutex> lock(g_rootMutex);
  g_root = AbsoluteDirectory(dir);
  g_rootSet = true;
}

const std::string& HostRoot() {
  std::lock_guard<std::mutex> lock(g_rootMutex);
  if (!g_rootSet) {
    const char* env = std::getenv("ARK_ROOT");
    g_root = AbsoluteDirectory(env != nullptr && *env != '\0' ? env : CurrentDirectory());
    g_rootSet = true;
  }
  return g_root;
}

std::string DriveHostDirectory(char driveLetter) {
  const char letter = ToUpperAnsi(std::string(1, driveLetter))[0];
  if (letter < 'A' || letter > 'Z') return {};
  std::string dir = MappedDirectory(letter);
  if (dir.empty() && letter == 'C') dir = HostRoot();
  return dir;
}

DWORD ToHostPath(std::string_view winPath, std::string& hostPath) {
  if (winPath.size() < 2 || winPath[1] != ':') return ERROR_PATH_NOT_FOUND;
  const std::string driveDir = DriveHostDirectory(winPath[0]);
  if (driveDir.empty()) return ERROR_PATH_NOT_FOUND;
  std::string out = driveDir;
  std::vector<std::string_view> parts;
  std::string_view rest = winPath.substr(2);
  while (!rest.empty()) {
    std::size_t end = 0;
    while (end < rest.size() && !IsSeparator(rest[end])) ++end;
    const std::string_view part = rest.substr(0, end);
    rest.remove_prefix(end == rest.size() ? end : end + 1);
    if (part.empty()) continue;  // doubled or trailing separators
    if (part == "." || part == "..") return ERROR_INVALID_NAME;
    for (char c : part) {
      if (IsBadNameCharacter(c)) return ERROR_INVALID_NAME;
    }
    parts.push_back(part);
  }
  for (std::string_view part : parts) {
    if (out.back() != '/') out += '/';
    out += part;
  }
  // A path that exists as written needs no more work; otherwise every
  // component is looked up ignoring letter case, as Windows does.
  if (!parts.empty() && !Exists(out)) {
    out = driveDir;
    for (std::string_view part : parts) {
      std::string name = NameAsItExists(out, part);
      if (out.back() != '/') out += '/';
      out += name;
    }
  }
  hostPath = std::move(out);
  return ERROR_SUCCESS;
}

std::string GetWindowsDirectory() { return "C:\\Windows"; }

std::string GetModuleFileName() {
  char buffer[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return std::string(kDefaultProgramDirectory) + "ark";
  const std::string exe(buffer, static_cast<std::size_t>(n));
  const auto slash = exe.rfind('/');
  const std::string dir = slash == 0 ? "/" : exe.substr(0, slash);
  const std::string name = exe.substr(slash + 1);

  // The most specific drive whose directory holds the executable.
  std::string best;
  std::size_t bestLength = 0;
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    const std::string mapped = DriveHostDirectory(letter);
    if (mapped.empty()) continue;
    const std::string driveDir = AbsoluteDirectory(mapped);
    std::string rest;
    if (IsUnder(dir, driveDir, rest) && (best.empty() || driveDir.size() > bestLength)) {
      best = std::string(1, letter) + ":\\" + SlashesToBackslashes(rest);
      if (best.back() != '\\') best += '\\';
      bestLength = driveDir.size();
    }
  }
  if (best.empty()) best = kDefaultProgramDirectory;
  return best + name;
}

std::string GetComputerName() {
  std::string name;
  if (RegGetString(kComputerNameKey, "ComputerName", name) == ERROR_SUCCESS && !name.empty()) {
    return name;
  }
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0) return "localhost";
  return host;
}

}  // namespace platform
