#include "restore/database_restore_plan.h"

#include <cstdio>
#include <vector>

#include "domino/settings.h"
#include "platform/clock.h"
#include "platform/text.h"

namespace ark::dbrestore {

namespace {

constexpr const char* kDefaultFolder = "restore";
constexpr const char* kBeforeRestore = "-before-restore";
constexpr const char* kTemporaryTail = ".ark-restoring";
constexpr std::uint64_t kTicksPerSecond = 10'000'000;

bool Digits(const std::string& text, std::size_t at, std::size_t count, WORD& out) {
  out = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return false;
    out = WORD(out * 10 + (text[i] - '0'));
  }
  return true;
}

bool LocalTime(const FILETIME& utc, SYSTEMTIME& local) {
  FILETIME localTime;
  return platform::FileTimeToLocalFileTime(utc, localTime) && platform::FileTimeToSystemTime(localTime, local);
}

// Splits at "\" after "/" became "\"; the reason when a part is empty, "."
// or "..", or the whole is absolute or carries a drive.
std::string SplitRelative(std::string text, std::vector<std::string>& parts) {
  for (char& c : text) {
    if (c == '/') c = '\\';
  }
  if (text.empty()) return "an empty path";
  if (text.front() == '\\') return "an absolute path; give it relative to the data directory";
  if (text.find(':') != std::string::npos) return "a drive or a stream; give the path relative to the data directory";
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find('\\', start);
    parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const std::string& part = parts[i];
    if (part == "..") return "\"..\" leads out of the data directory";
    if (part == ".") return "\".\" is not a name";
    if (part.empty() && i + 1 != parts.size()) return "an empty name between separators";
  }
  return std::string();
}

std::string Joined(const std::vector<std::string>& parts) {
  std::string joined;
  for (const std::string& part : parts) joined += (joined.empty() ? "" : "\\") + part;
  return joined;
}

bool IsDatabaseName(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  const std::string extension = platform::ToLowerAnsi(name.substr(dot));
  return extension == ".nsf" || extension == ".ntf" || extension == ".box";
}

// The path with text inserted before its extension (the last dot of its
// last part), or at its end when it has none.
std::string BeforeExtension(const std::string& path, const std::string& text) {
  const std::size_t dot = path.rfind('.');
  const std::size_t separator = path.rfind('\\');
  if (dot == std::string::npos || (separator != std::string::npos && dot < separator)) return path + text;
  return path.substr(0, dot) + text + path.substr(dot);
}

}  // namespace

bool ParseMoment(const std::string& text, FILETIME& utc) {
  SYSTEMTIME local;
  if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != ' ' || text[13] != ':' ||
      text[16] != ':' || !Digits(text, 0, 4, local.wYear) || !Digits(text, 5, 2, local.wMonth) ||
      !Digits(text, 8, 2, local.wDay) || !Digits(text, 11, 2, local.wHour) ||
      !Digits(text, 14, 2, local.wMinute) || !Digits(text, 17, 2, local.wSecond)) {
    return false;
  }
  FILETIME localTime;
  return platform::SystemTimeToFileTime(local, localTime) && platform::LocalFileTimeToFileTime(localTime, utc);
}

std::string MomentText(const FILETIME& utc) {
  SYSTEMTIME t;
  if (!LocalTime(utc, t)) return "(no time)";
  char text[40];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour,
                t.wMinute, t.wSecond);
  return text;
}

std::string RuntimeTimeText(const FILETIME& utc) {
  std::uint64_t ticks = (std::uint64_t(utc.dwHighDateTime) << 32) | utc.dwLowDateTime;
  ticks = (ticks + kTicksPerSecond - 1) / kTicksPerSecond * kTicksPerSecond;
  const FILETIME whole{DWORD(ticks & 0xFFFFFFFF), DWORD(ticks >> 32)};
  SYSTEMTIME t;
  if (!LocalTime(whole, t)) return std::string();
  char text[40];
  std::snprintf(text, sizeof text, "%u/%u/%u %02u:%02u:%02u", t.wMonth, t.wDay, t.wYear, t.wHour, t.wMinute,
                t.wSecond);
  return text;
}

std::string ReadDatabasePath(const std::string& text, DatabasePath& out) {
  std::vector<std::string> parts;
  if (std::string reason = SplitRelative(text, parts); !reason.empty()) return reason;
  out.folder = parts.back().empty();
  if (out.folder) parts.pop_back();
  if (parts.empty()) return "no database or folder named";
  if (!out.folder && !IsDatabaseName(parts.back())) return "not a database (.nsf, .ntf or .box)";
  out.relative = Joined(parts) + (out.folder ? "\\" : "");
  return std::string();
}

std::string ReadRestoreFolder(const std::string& text, std::string& out) {
  if (text.empty()) {
    out = kDefaultFolder;
    return std::string();
  }
  std::vector<std::string> parts;
  if (std::string reason = SplitRelative(text, parts); !reason.empty()) return reason;
  if (parts.back().empty()) parts.pop_back();
  out = Joined(parts);
  return std::string();
}

std::string TargetPath(const std::string& dataDirectory, const std::string& folder,
                       const std::string& relative) {
  return JoinPath(JoinPath(dataDirectory, folder), relative);
}

std::string BeforeRestorePath(const std::string& dataDirectory, const std::string& relative) {
  return BeforeExtension(TargetPath(dataDirectory, kDefaultFolder, relative), kBeforeRestore);
}

std::string TemporaryPath(const std::string& target) { return BeforeExtension(target, kTemporaryTail); }

DWORD RecoveryFlags(std::uint32_t target, bool newReplicaId) {
  DWORD flags = DBRECOVER_ZAP_ID;
  if (target == kRestoreToSnapshotTime || target == kRestoreToMoment) flags |= DBRECOVER_POINT_IN_TIME;
  if (newReplicaId) flags |= DBRECOVER_ZAP_REPLICAID;
  return flags;
}

}  // namespace ark::dbrestore
