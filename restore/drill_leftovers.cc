#include "restore/drill_leftovers.h"

#include "domino/host_utils.h"
#include "domino/settings.h"
#include "platform/files.h"
#include "snapshot/snapshot_clone.h"

namespace ark {

namespace {

constexpr const char* kHeader = "ark drill 1";
constexpr const char* kDrillFolder = "$drill";

std::string RecordPath(const DominoServerInfo& server) {
  std::string root;
  if (GetChangeInfoRoot(root) != 0 || ServerShortName(server).empty()) return std::string();
  return WithBackslash(root) + kDrillFolder + "\\" + ServerShortName(server) + ".running";
}

std::string FolderOf(const std::string& path) { return path.substr(0, path.find_last_of('\\')); }

bool Exists(const std::string& path) { return platform::GetFileAttributes(path) != INVALID_FILE_ATTRIBUTES; }

void RemoveRecord(const std::string& path) {
  platform::DeleteFile(path);
  platform::RemoveDirectory(FolderOf(path));  // only when nothing else is in it
}

}  // namespace

DrillRecord::DrillRecord(const DominoServerInfo& server) : path_(RecordPath(server)) {}

void DrillRecord::Working(bool clone, const std::string& path) {
  if (path_.empty() || CreateDirectoryTree(FolderOf(path_)) != 1) return;
  const std::string text = std::string(kHeader) + "\r\n" + (clone ? "clone=" : "folder=") + path + "\r\n";
  written_ = platform::WriteWholeFile(path_, text) == ERROR_SUCCESS;
}

void DrillRecord::Done() {
  if (!written_) return;
  RemoveRecord(path_);
  written_ = false;
}

std::string RemoveDrillLeftovers(const DominoServerInfo& server) {
  const std::string path = RecordPath(server);
  std::string text;
  if (path.empty() || platform::ReadWholeFile(path, text) != ERROR_SUCCESS) return std::string();
  std::string key, value;
  const std::string header = std::string(kHeader) + "\r\n";
  if (text.starts_with(header)) {
    const std::string line = text.substr(header.size(), text.find("\r\n", header.size()) - header.size());
    const std::size_t equals = line.find('=');
    if (equals != std::string::npos) key = line.substr(0, equals), value = line.substr(equals + 1);
  }
  std::string said;
  if ((key != "clone" && key != "folder") || value.empty()) {
    said = "Removed the record " + path + " of an interrupted drill: it names nothing to remove.\r\n";
  } else if (!Exists(value)) {
    RemoveRecord(path);
    return std::string();  // that drill had removed it itself
  } else if (key == "clone") {
    SnapshotClone clone;
    clone.Adopt(std::u16string(1, char16_t(server.dataVolume.driveLetter)), value);
    if (std::string why = clone.Remove(); !why.empty()) {
      return "WARNING: An interrupted drill of this server left its clone " + value + ", and " + why + ".\r\n";
    }
    said = "Removed the clone " + value + " that an interrupted drill of this server left.\r\n";
  } else {
    if (DeleteDirectoryTree(value) != 0) {
      return "WARNING: An interrupted drill of this server left its folder " + value +
             ", which could not be removed; delete it.\r\n";
    }
    std::string parent = FolderOf(value);  // <base>\<server>, when nothing else is in it
    platform::RemoveDirectory(parent);
    said = "Removed the folder " + value + " that an interrupted drill of this server left.\r\n";
  }
  RemoveRecord(path);
  return said;
}

}  // namespace ark
