// The host root and the drive map that turns Windows paths into host paths.
#include "platform/host.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/posix/hostroot/case_names.h"
#include "platform/kit/unique_fd.h"
#include "platform/registry.h"
#include "platform/shared/win_path.h"
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

// The names of a directory by their letter-case-blind form, as listed when
// the directory had this identity.
struct DirIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  struct timespec modified = {};
  struct timespec changed = {};
  bool operator==(const DirIdentity& o) const {
    return device == o.device && inode == o.inode && modified.tv_sec == o.modified.tv_sec &&
           modified.tv_nsec == o.modified.tv_nsec && changed.tv_sec == o.changed.tv_sec &&
           changed.tv_nsec == o.changed.tv_nsec;
  }
};

struct Listing {
  DirIdentity identity;
  std::unordered_map<std::string, std::string> byFolded;  // first in listing order wins
};

// A name that is missing as written makes its directory listed; creating N
// new files in one directory (a backup writes one change-information file
// per database) would list it N times. The listings of recently looked-up
// directories are kept while a directory keeps its identity, and a name
// this process creates is added to its directory's listing
// (NoteCreatedName). A name another process adds in the moment between
// this process's look-up and its own creation in the same directory is not
// seen until the directory changes again.
constexpr std::size_t kListingsKept = 64;
std::mutex g_listingsMutex;
std::unordered_map<std::string, Listing> g_listings;

bool IdentityOf(const std::string& dir, DirIdentity& out) {
  struct stat st;
  if (::stat(dir.c_str(), &st) != 0) return false;
  out = {st.st_dev, st.st_ino, st.st_mtim, st.st_ctim};
  return true;
}

// Windows finds a name whatever its letter case; a POSIX file system does
// not. When dir/name is missing, the entry of dir whose name equals name
// ignoring case stands in for it (a name that exists nowhere stays as
// given, so new files keep the case their creator chose).
std::string NameAsItExists(const std::string& dir, std::string_view name, bool exactIsMissing = false) {
  std::string exact = std::string(name);
  if (!exactIsMissing && Exists(dir + "/" + exact)) return exact;
  DirIdentity identity;
  if (!IdentityOf(dir, identity)) return exact;
  std::lock_guard<std::mutex> lock(g_listingsMutex);
  auto it = g_listings.find(dir);
  if (it == g_listings.end() || !(it->second.identity == identity)) {
    DIR* listed = ::opendir(dir.c_str());
    if (listed == nullptr) return exact;
    if (it == g_listings.end()) {
      if (g_listings.size() >= kListingsKept) g_listings.clear();
      it = g_listings.emplace(dir, Listing{}).first;
    }
    Listing& listing = it->second;
    listing.byFolded.clear();
    while (dirent* entry = ::readdir(listed)) {
      listing.byFolded.emplace(ToLowerAnsi(entry->d_name), entry->d_name);
    }
    ::closedir(listed);
    listing.identity = identity;
  }
  auto found = it->second.byFolded.find(ToLowerAnsi(exact));
  return found == it->second.byFolded.end() ? exact : found->second;
}

}  // namespace

namespace posix {

void NoteCreatedName(const std::string& hostPath) {
  const std::size_t slash = hostPath.rfind('/');
  if (slash == std::string::npos || slash + 1 == hostPath.size()) return;
  const std::string dir = slash == 0 ? "/" : hostPath.substr(0, slash);
  std::lock_guard<std::mutex> lock(g_listingsMutex);
  auto it = g_listings.find(dir);
  if (it == g_listings.end()) return;
  DirIdentity identity;
  if (!IdentityOf(dir, identity)) {
    g_listings.erase(it);
    return;
  }
  const std::string name = hostPath.substr(slash + 1);
  it->second.byFolded.emplace(ToLowerAnsi(name), name);
  it->second.identity = identity;
}

}  // namespace posix

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
  std::vector<std::string_view> parts;
  if (const DWORD err = shared::SplitWindowsPath(winPath, parts); err != ERROR_SUCCESS) return err;
  std::string out = driveDir;
  for (std::string_view part : parts) {
    if (out.back() != '/') out += '/';
    out += part;
  }
  // A path that exists as written needs no more work; otherwise every
  // component is looked up ignoring letter case, as Windows does. When the
  // directory exists as written (a file about to be made in it, mostly),
  // only the last name is.
  if (!parts.empty() && !Exists(out)) {
    const std::size_t slash = out.rfind('/');
    if (parts.size() > 1 && slash != std::string::npos && Exists(out.substr(0, slash))) {
      const std::string dir = out.substr(0, slash);
      hostPath = dir + "/" + NameAsItExists(dir, parts.back(), true);
      return ERROR_SUCCESS;
    }
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

DWORD ToWindowsPath(std::string_view hostPath, std::string& winPath) {
  const std::string path = AbsoluteDirectory(std::string(hostPath));
  // The most specific drive whose directory holds the path.
  std::string best;
  std::size_t bestLength = 0;
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    const std::string mapped = DriveHostDirectory(letter);
    if (mapped.empty()) continue;
    const std::string driveDir = AbsoluteDirectory(mapped);
    std::string rest;
    if (IsUnder(path, driveDir, rest) && (best.empty() || driveDir.size() > bestLength)) {
      best = std::string(1, letter) + ":\\" + SlashesToBackslashes(rest);
      bestLength = driveDir.size();
    }
  }
  if (best.empty()) return ERROR_PATH_NOT_FOUND;
  // Names the drive map cannot carry ("." and "..", wildcards, colons) are refused.
  std::vector<std::string_view> names;
  if (const DWORD invalid = shared::SplitWindowsPath(best, names)) return invalid;
  winPath = std::move(best);
  return ERROR_SUCCESS;
}

std::string GetModuleFileName() {
  char buffer[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return std::string(kDefaultProgramDirectory) + "ark";
  const std::string exe(buffer, static_cast<std::size_t>(n));
  const auto slash = exe.rfind('/');
  const std::string dir = slash == 0 ? "/" : exe.substr(0, slash);
  const std::string name = exe.substr(slash + 1);
  std::string winDir;
  if (ToWindowsPath(dir, winDir) != ERROR_SUCCESS) return kDefaultProgramDirectory + name;
  if (winDir.back() != '\\') winDir += '\\';
  return winDir + name;
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
