// Collecting the files and directories to make durable together.
#include "platform/files.h"
#include "platform/shared/flush_override.h"

namespace platform {

void FlushBatch::Add(const std::string& path) {
  if (added_.insert(path).second) paths_.push_back(path);
}

void FlushBatch::AddDirectoriesAbove(const std::string& path) {
  std::string level = path;
  for (;;) {
    const std::string above = shared::WinDirName(level);
    // "" and "\\server" hold no names of ours; a drive's root is the last.
    if (above.empty() || above == level ||
        (above.rfind("\\\\", 0) == 0 && above.find('\\', 2) == std::string::npos)) {
      return;
    }
    // A level added before had every level above it added too.
    if (!added_.insert(above).second) return;
    paths_.push_back(above);
    if (above.size() == 3 && above[1] == ':') return;
    level = above;
  }
}

DWORD FlushBatch::Flush(std::string& failedPath) {
  std::vector<std::string> paths;
  paths.swap(paths_);
  added_.clear();
  return FlushAllToDisk(paths, failedPath);
}

}  // namespace platform
