// Processes by executable name, read from /proc. Several simulated hosts may
// share one machine: a process that declares another host root (ARK_ROOT in
// its environment or "--root DIR" on its command line) belongs to another
// host and does not count; a process that declares none does.
#include "platform/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <optional>

#include "platform/host.h"
#include "platform/kit/file_io.h"
#include "platform/kit/unique_fd.h"
#include "platform/text.h"
#include "platform/shared/machine.h"

namespace platform {
namespace {

std::string ProcPath(const std::string& pid, const char* what) { return "/proc/" + pid + "/" + what; }

// The whole of a /proc file (NUL-separated lists included); nullopt when the
// process is gone or the file is not readable.
std::optional<std::string> ReadProcFile(const std::string& path) {
  std::string data;
  if (kit::ReadFileBytes(path, data) != 0) return std::nullopt;
  return data;
}

std::vector<std::string> SplitNul(const std::string& data) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start < data.size()) {
    const auto end = data.find('\0', start);
    parts.push_back(data.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return parts;
}

std::string BaseName(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string WithoutExtension(const std::string& name) {
  const auto dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// The file name of the process's executable: /proc/PID/exe, else argv[0].
std::optional<std::string> ExecutableName(const std::string& pid) {
  char buffer[PATH_MAX];
  const ssize_t n = ::readlink(ProcPath(pid, "exe").c_str(), buffer, sizeof buffer - 1);
  if (n > 0) {
    std::string path(buffer, static_cast<std::size_t>(n));
    constexpr std::string_view kDeleted = " (deleted)";
    if (path.ends_with(kDeleted)) path.resize(path.size() - kDeleted.size());
    return BaseName(path);
  }
  const auto cmdline = ReadProcFile(ProcPath(pid, "cmdline"));
  if (!cmdline || cmdline->empty()) return std::nullopt;
  return BaseName(SplitNul(*cmdline).front());
}

std::string Canonical(const std::string& path) {
  char resolved[PATH_MAX];
  std::string out = ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  return out;
}

// The host root a process declares, canonical; empty when it declares none;
// nullopt when the process ended meanwhile (its environment reads as nothing:
// every running program has one).
std::optional<std::string> DeclaredRoot(const std::string& pid) {
  std::string root;
  if (const auto cmdline = ReadProcFile(ProcPath(pid, "cmdline"))) {
    const std::vector<std::string> args = SplitNul(*cmdline);
    for (std::size_t i = 1; i < args.size(); ++i) {
      if (args[i] == "--root" && i + 1 < args.size()) root = args[i + 1];
      else if (args[i].starts_with("--root=")) root = args[i].substr(7);
    }
  }
  if (root.empty()) {
    const auto environ = ReadProcFile(ProcPath(pid, "environ"));
    if (!environ || environ->empty()) return std::nullopt;
    // The first definition is the one getenv sees.
    for (const std::string& entry : SplitNul(*environ)) {
      if (entry.starts_with("ARK_ROOT=")) {
        root = entry.substr(9);
        break;
      }
    }
  }
  if (root.empty()) return std::string();
  if (root.front() != '/') {
    // Relative to that process's working directory.
    char cwd[PATH_MAX];
    const ssize_t n = ::readlink(ProcPath(pid, "cwd").c_str(), cwd, sizeof cwd - 1);
    if (n > 0) root = std::string(cwd, static_cast<std::size_t>(n)) + "/" + root;
  }
  return Canonical(root);
}

}  // namespace

bool machine::IsProcessRunning(const std::vector<std::string>& names) {
  kit::UniqueDir proc(::opendir("/proc"));
  if (!proc.valid()) return false;
  const std::string ownRoot = Canonical(HostRoot());
  while (const dirent* entry = ::readdir(proc.get())) {
    const std::string pid = entry->d_name;
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) {
      continue;
    }
    const auto exe = ExecutableName(pid);
    if (!exe) continue;  // ended meanwhile
    const std::string name = WithoutExtension(*exe);
    bool match = false;
    for (const std::string& wanted : names) {
      if (EqualsNoCase(name, WithoutExtension(wanted))) match = true;
    }
    if (!match) continue;
    // A process that ended between the two reads is not counted: seen from
    // here it would declare no host root and pass for one of this host's.
    const std::optional<std::string> root = DeclaredRoot(pid);
    if (root && (root->empty() || *root == ownRoot)) return true;
  }
  return false;
}

int CurrentProcessId() { return static_cast<int>(::getpid()); }

namespace {

std::uint64_t LimitValue(rlim_t value) {
  return value == RLIM_INFINITY ? UINT64_MAX : static_cast<std::uint64_t>(value);
}

}  // namespace

OpenFileLimits GetOpenFileLimits() {
  struct rlimit limit = {};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return {};
  return {LimitValue(limit.rlim_cur), LimitValue(limit.rlim_max)};
}

OpenFileLimits RaiseOpenFileLimit(OpenFileLimits* after) {
  const OpenFileLimits before = GetOpenFileLimits();
  struct rlimit limit = {};
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
  }
  if (after != nullptr) *after = GetOpenFileLimits();
  return before;
}

}  // namespace platform
