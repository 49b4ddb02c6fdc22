// The snapshot hint file: one snapshot name per line, each ended by "\n".
#include "snapshot/snapshot_hints.h"

#include <algorithm>

#include "domino/host_utils.h"
#include "platform/files.h"
#include "platform/text.h"
#include "snapshot/snapshot_names.h"

namespace {

constexpr std::size_t kLineLimit = 255;  // characters of a name line

// The directory part of a Windows path ("" when it has none).
std::string DirectoryOf(const std::string& path) {
  const std::size_t separator = path.find_last_of("\\/");
  return separator == std::string::npos ? std::string() : path.substr(0, separator);
}

// The names of the file in line order; empty lines are skipped (a blank line
// left by an editor must not hide the names after it), a "\r" before the line
// end is dropped, and a line longer than a name can be is cut.
std::vector<std::string> ReadNameLines(const std::string& text) {
  std::vector<std::string> names;
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(begin, end - begin);
    begin = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > kLineLimit) line.resize(kLineLimit);
    if (!line.empty()) names.push_back(std::move(line));
  }
  return names;
}

}  // namespace

int LoadSnapshotHints(const std::string& hintPath, DominoServerInfo& server) {
  if (hintPath.empty()) return -1;
  if (platform::GetFileAttributes(hintPath) == INVALID_FILE_ATTRIBUTES) {
    const std::string directory = DirectoryOf(hintPath);
    if (!directory.empty()) CreateDirectoryTree(directory);
    platform::WriteWholeFile(hintPath, std::string());
    if (platform::GetFileAttributes(hintPath) == INVALID_FILE_ATTRIBUTES) return -1;
  }
  std::string text;
  if (platform::ReadWholeFile(hintPath, text) != ERROR_SUCCESS) return -1;

  std::vector<std::string> names = ReadNameLines(text);
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());

  server.snapshots.clear();
  std::vector<SnapshotEntry> onVolume;
  const std::u16string drive(1, server.dataVolume.driveLetter);
  if (GetSnapshotEntries(drive, onVolume) != 0) return -1;
  for (const std::string& name : names) {
    auto match = std::find_if(onVolume.begin(), onVolume.end(), [&](const SnapshotEntry& entry) {
      return platform::EqualsNoCase(entry.name, name);
    });
    if (match == onVolume.end()) continue;  // no longer on the volume: dropped
    SnapshotEntry entry = *match;
    entry.name = name;
    entry.nameText.Set(name);
    entry.wideName.Set(platform::AnsiToWide(name));
    server.snapshots.push_back(std::move(entry));
  }
  return 0;
}

int SaveSnapshotHints(const std::string& hintPath, const DominoServerInfo& server) {
  if (hintPath.empty()) return -1;
  std::vector<std::string> written;
  std::string text;
  for (const SnapshotEntry& entry : server.snapshots) {
    const std::string name = platform::ToUpperAnsi(entry.name);
    if (name.empty() || std::find(written.begin(), written.end(), name) != written.end()) continue;
    written.push_back(name);
    text += name + "\n";
  }
  // The file is written anew whole; what it held before does not survive.
  return platform::WriteWholeFile(hintPath, text) == ERROR_SUCCESS ? 0 : -1;
}
