// The snapshot hint file: one snapshot name per line, each ended by "\n".
#include "ledger/snapshot_hint_file.h"

#include <algorithm>

#include "domino/host_utils.h"
#include "ledger/text_lines.h"
#include "platform/files.h"
#include "platform/text.h"

namespace ark {

namespace {

constexpr std::size_t kLineLimit = 255;  // characters of a name line

// The directory part of a Windows path ("" when it has none).
std::string DirectoryOf(const std::string& path) {
  const std::size_t separator = path.find_last_of("\\/");
  return separator == std::string::npos ? std::string() : path.substr(0, separator);
}

}  // namespace

int ReadSnapshotHintNames(const std::string& hintPath, std::vector<std::string>& names) {
  if (hintPath.empty()) return -1;
  if (platform::GetFileAttributes(hintPath) == INVALID_FILE_ATTRIBUTES) {
    const std::string directory = DirectoryOf(hintPath);
    if (!directory.empty()) CreateDirectoryTree(directory);
    platform::WriteWholeFile(hintPath, std::string());
    if (platform::GetFileAttributes(hintPath) == INVALID_FILE_ATTRIBUTES) return -1;
  }
  std::string text;
  if (platform::ReadWholeFile(hintPath, text) != ERROR_SUCCESS) return -1;
  for (std::string& line : TextLines(text)) {
    if (line.size() > kLineLimit) line.resize(kLineLimit);
    if (!line.empty()) names.push_back(std::move(line));
  }
  return 0;
}

int WriteSnapshotHintNames(const std::string& hintPath, const std::vector<std::string>& names) {
  if (hintPath.empty()) return -1;
  std::vector<std::string> written;
  std::string text;
  for (const std::string& entry : names) {
    const std::string name = platform::ToUpperAnsi(entry);
    if (name.empty() || std::find(written.begin(), written.end(), name) != written.end()) continue;
    written.push_back(name);
    text += name + "\n";
  }
  // The file is written anew whole; what it held before does not survive.
  return platform::WriteWholeFile(hintPath, text) == ERROR_SUCCESS ? 0 : -1;
}

}  // namespace ark
