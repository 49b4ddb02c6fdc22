#include "snapshotsvc/configure.h"

#include <cstdio>
#include <set>

#include "platform/registry.h"
#include "snapshotsvc/component_config.h"

namespace snapshotsvc {
namespace {

bool Fail(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
  return false;
}

bool CheckDisks(const std::vector<DiskConfig>& disks, std::string* error) {
  std::set<char> letters;
  for (const DiskConfig& disk : disks) {
    if (disk.volumeName.empty() || disk.volumeName.find('/') != std::string::npos) {
      return Fail(error, "invalid volume name \"" + disk.volumeName + "\"");
    }
    if (disk.diskName.empty() || disk.diskName.find('/') != std::string::npos) {
      return Fail(error, "invalid disk name \"" + disk.diskName + "\"");
    }
    if (disk.devicePath.size() < 3 || disk.devicePath.compare(0, 2, "\\\\") != 0) {
      return Fail(error, "device path \"" + disk.devicePath + "\" does not begin with \\\\");
    }
    for (char letter : disk.driveLetters) {
      char upper = (letter >= 'a' && letter <= 'z') ? char(letter - 'a' + 'A') : letter;
      if (upper < 'A' || upper > 'Z') {
        return Fail(error, std::string("invalid drive letter '") + letter + "'");
      }
      if (!letters.insert(upper).second) {
        return Fail(error, std::string("drive ") + upper + ": is named by two disks");
      }
    }
  }
  return true;
}

bool WriteValue(const std::string& key, const char* name, const std::string& text,
                std::string* error) {
  LONG rc = platform::RegSetString(key, name, text);
  if (rc != LONG(ERROR_SUCCESS)) {
    return Fail(error, "cannot write registry value " + key + "\\" + name + " (error " +
                           std::to_string(rc) + ")");
  }
  return true;
}

}  // namespace

bool InstallComponent(Backend backend, const std::vector<DiskConfig>& disks,
                      const std::string& snapshotStore, bool classKeys, std::string* error) {
  if (!CheckDisks(disks, error)) return false;
  LONG rc = platform::RegDeleteKeyTree(kConfigKey);
  if (rc != LONG(ERROR_SUCCESS) && rc != LONG(ERROR_FILE_NOT_FOUND)) {
    return Fail(error, "cannot remove the earlier configuration (error " + std::to_string(rc) + ")");
  }
  if (!WriteValue(kConfigKey, "Backend", BackendName(backend), error)) return false;
  if (!snapshotStore.empty() && !WriteValue(kConfigKey, "SnapshotStore", snapshotStore, error)) return false;
  for (std::size_t i = 0; i < disks.size(); ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "Disk%03zu", i);
    const std::string key = std::string(kDisksKey) + "\\" + name;
    std::string letters;
    for (char letter : disks[i].driveLetters) {
      letters += (letter >= 'a' && letter <= 'z') ? char(letter - 'a' + 'A') : letter;
    }
    if (!WriteValue(key, "VolumeName", disks[i].volumeName, error) ||
        !WriteValue(key, "DiskName", disks[i].diskName, error) ||
        !WriteValue(key, "DevicePath", disks[i].devicePath, error) ||
        !WriteValue(key, "DriveLetters", letters, error)) {
      return false;
    }
  }
  // The class keys last: the component counts as installed only once its
  // configuration is complete.
  if (!classKeys) return true;
  return WriteValue(kSnapshotClassKey, "Server", "ark snapshot component", error) &&
         WriteValue(kDiskClassKey, "Server", "ark snapshot component", error);
}

}  // namespace snapshotsvc
