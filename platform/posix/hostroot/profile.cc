// Initialization files by Windows path. Reads parse the file afresh; a write
// locks the file (flock, checking afterwards that the name still refers to
// the locked file, since writers replace it), changes one line and replaces
// the file atomically.
#include "platform/profile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>
#include <string_view>
#include <vector>

#include "platform/host.h"
#include "platform/posix/file_copy.h"
#include "platform/kit/file_io.h"
#include "platform/shared/profile_text.h"
#include "platform/text.h"

namespace platform {
namespace {

using kit::UniqueFd;

struct IniText {
  std::vector<std::string> lines;
  std::string eol = "\r\n";
};

IniText SplitIni(std::string_view text) {
  IniText ini;
  bool eolSeen = false;
  while (!text.empty()) {
    const auto nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    if (line.ends_with('\r')) {
      line.remove_suffix(1);
      if (!eolSeen) ini.eol = "\r\n";
    } else if (!eolSeen && nl != std::string_view::npos) {
      ini.eol = "\n";
    }
    if (nl != std::string_view::npos) eolSeen = true;
    ini.lines.emplace_back(line);
    if (nl == std::string_view::npos) break;
    text.remove_prefix(nl + 1);
  }
  return ini;
}

// The section name of a "[name]" line.
bool SectionName(std::string_view line, std::string_view& name) {
  line = shared::TrimProfileText(line);
  if (line.size() < 2 || line.front() != '[') return false;
  const auto close = line.find(']');
  if (close == std::string_view::npos) return false;
  name = shared::TrimProfileText(line.substr(1, close - 1));
  return true;
}

// The key and value of a "key=value" line.
bool KeyValue(std::string_view line, std::string_view& key, std::string_view& value) {
  const auto eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  key = shared::TrimProfileText(line.substr(0, eq));
  value = shared::TrimProfileText(line.substr(eq + 1));
  return true;
}

// Index of the line holding key in section, or -1; sectionEnd receives the
// index after the section's last non-blank line (-1 when the section is absent).
long FindKey(const IniText& ini, std::string_view section, std::string_view key, long& sectionEnd) {
  sectionEnd = -1;
  bool inSection = false;
  for (std::size_t i = 0; i < ini.lines.size(); ++i) {
    std::string_view name, k, v;
    if (SectionName(ini.lines[i], name)) {
      if (inSection) return -1;  // only the first section of that name counts
      inSection = EqualsNoCase(name, section);
      if (inSection) sectionEnd = static_cast<long>(i) + 1;
      continue;
    }
    if (!inSection) continue;
    if (!shared::TrimProfileText(ini.lines[i]).empty()) sectionEnd = static_cast<long>(i) + 1;
    if (KeyValue(ini.lines[i], k, v) && EqualsNoCase(k, key)) return static_cast<long>(i);
  }
  return -1;
}

bool ReadHostFile(const std::string& path, std::string& text) { return kit::ReadFileBytes(path, text) == 0; }

// Opens and locks the file at path (creating it empty when missing) such
// that the lock is on the file that the name refers to.
UniqueFd LockFile(const std::string& path) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    UniqueFd fd = kit::OpenFile(path, O_RDWR | O_CREAT, 0666);
    if (!fd.valid()) fd = kit::OpenFile(path, O_RDONLY);
    if (!fd.valid()) return fd;
    if (kit::Flock(fd.get(), LOCK_EX) != 0) return UniqueFd();
    struct stat held {}, named {};
    if (::fstat(fd.get(), &held) == 0 && ::stat(path.c_str(), &named) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
      return fd;
    }
    // Another writer replaced the file meanwhile: lock the new one.
  }
  return UniqueFd();
}

}  // namespace

std::size_t GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, std::string& out,
                                    std::size_t capacity, const std::string& winFile) {
  std::string value(shared::TrimProfileText(defaultValue));
  std::string path, text;
  if (ToHostPath(winFile, path) == ERROR_SUCCESS && ReadHostFile(path, text)) {
    const IniText ini = SplitIni(text);
    long sectionEnd;
    const long line = FindKey(ini, section, key, sectionEnd);
    std::string_view k, v;
    if (line >= 0 && KeyValue(ini.lines[static_cast<std::size_t>(line)], k, v)) {
      // A value in matching quotes is given without them.
      if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        v = v.substr(1, v.size() - 2);
      }
      value = std::string(v);
    }
  }
  if (capacity == 0) {
    out.clear();
    return 0;
  }
  if (value.size() > capacity - 1) value.resize(capacity - 1);
  out = value;
  return out.size();
}

bool WritePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& winFile) {
  if (!shared::ProfileEntryWritable(section, key, value)) return false;
  std::string path;
  if (ToHostPath(winFile, path) != ERROR_SUCCESS) return false;
  const UniqueFd lock = LockFile(path);
  if (!lock.valid()) return false;
  std::string text;
  if (!ReadHostFile(path, text)) return false;
  IniText ini = SplitIni(text);
  long sectionEnd;
  const long line = FindKey(ini, section, key, sectionEnd);
  const std::string entry = key + "=" + value;
  if (line >= 0) {
    if (ini.lines[static_cast<std::size_t>(line)] == entry) return true;
    ini.lines[static_cast<std::size_t>(line)] = entry;
  } else if (sectionEnd >= 0) {
    ini.lines.insert(ini.lines.begin() + sectionEnd, entry);
  } else {
    ini.lines.push_back("[" + section + "]");
    ini.lines.push_back(entry);
  }
  std::string updated;
  for (const std::string& l : ini.lines) updated += l + ini.eol;
  return posix::ReplaceFileContent(path, updated, true) == ERROR_SUCCESS;
}

}  // namespace platform
