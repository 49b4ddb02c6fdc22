#include "snapshotsvc/component_config.h"

#include <algorithm>
#include <cstdlib>

#include "platform/registry.h"
#include "platform/text.h"

namespace snapshotsvc {
namespace {

bool ListNames(std::string_view list, std::string_view operation) {
  std::size_t pos = 0;
  while (pos < list.size()) {
    std::size_t end = list.find_first_of(",; |", pos);
    if (end == std::string_view::npos) end = list.size();
    if (end > pos && platform::EqualsNoCase(list.substr(pos, end - pos), operation)) return true;
    pos = end + 1;
  }
  return false;
}

std::string GetString(const std::string& key, const char* value) {
  std::string text;
  if (platform::RegGetString(key, value, text) != ERROR_SUCCESS) text.clear();
  return text;
}

}  // namespace

const char* BackendName(Backend backend) { return backend == Backend::Btrfs ? "btrfs" : "dir"; }

bool ComponentConfig::FailsOn(std::string_view operation) const {
  if (ListNames(failOn, operation)) return true;
  const char* env = std::getenv(kFailOnEnvironment);
  return env != nullptr && ListNames(env, operation);
}

bool ComponentConfig::CarriesDrive(char letter) const {
  for (const DiskEntry& disk : disks) {
    if (disk.driveLetters.find(letter) != std::string::npos) return true;
  }
  return false;
}

ComponentConfig LoadComponentConfig() {
  ComponentConfig config;
  const std::string backend = GetString(kConfigKey, "Backend");
  if (backend.empty() || platform::EqualsNoCase(backend, "dir")) {
    config.backend = Backend::Dir;
  } else if (platform::EqualsNoCase(backend, "btrfs")) {
    config.backend = Backend::Btrfs;
  } else {
    config.backendKnown = false;
  }
  config.snapshotStore = GetString(kConfigKey, "SnapshotStore");
  while (config.snapshotStore.size() > 1 && config.snapshotStore.back() == '/') {
    config.snapshotStore.pop_back();
  }
  config.failOn = GetString(kConfigKey, "FailOn");

  std::vector<std::string> names = platform::RegEnumSubKeys(kDisksKey);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::string key = std::string(kDisksKey) + "\\" + name;
    DiskEntry disk;
    disk.volumeName = GetString(key, "VolumeName");
    disk.diskName = GetString(key, "DiskName");
    disk.devicePath = GetString(key, "DevicePath");
    disk.driveLetters = platform::ToUpperAnsi(GetString(key, "DriveLetters"));
    config.disks.push_back(std::move(disk));
  }
  return config;
}

}  // namespace snapshotsvc
