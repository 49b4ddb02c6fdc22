// The component's configuration in the host registry (written by
// InstallComponent, read afresh by every call):
//
//   [HKEY_LOCAL_MACHINE\SOFTWARE\ark\Snapshot Component]
//   "Backend"="dir"                 dir | btrfs
//   "SnapshotStore"="/srv/snaps"    optional: snapshots of drive X go to
//                                   <SnapshotStore>/X; default
//                                   <parent of the drive's directory>/.snapshots/X
//   "FailOn"="create,rename"        optional fault injection (tests)
//   [HKEY_LOCAL_MACHINE\SOFTWARE\ark\Snapshot Component\Disks\Disk000]
//   "VolumeName"="vol_data"
//   "DiskName"="disk1"
//   "DevicePath"="\\\\filer1\\vol_data\\disk1"
//   "DriveLetters"="DE"
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/win_types.h"
#include "snapshotsvc/configure.h"

namespace snapshotsvc {

inline constexpr const char* kConfigKey = "SOFTWARE\\ark\\Snapshot Component";
inline constexpr const char* kDisksKey = "SOFTWARE\\ark\\Snapshot Component\\Disks";
inline constexpr const char* kSnapshotClassKey =
    "SOFTWARE\\Classes\\CLSID\\{4d19cff7-4c5d-4f02-95c8-80ede568f053}";
inline constexpr const char* kDiskClassKey =
    "SOFTWARE\\Classes\\CLSID\\{9491fb97-380c-4544-9bc5-6b7823e4d705}";
// Fault injection besides the registry value "FailOn": the same list in this
// environment variable.
inline constexpr const char* kFailOnEnvironment = "ARK_SNAPSHOT_FAIL_ON";

struct DiskEntry {
  std::string volumeName;
  std::string diskName;
  std::string devicePath;
  std::string driveLetters;  // upper-case letters, one per drive
};

struct ComponentConfig {
  bool backendKnown = true;
  Backend backend = Backend::Dir;
  std::string snapshotStore;  // empty: beside each drive's directory
  std::string failOn;         // list of operation names
  std::vector<DiskEntry> disks;

  // True when the operation ("create", "rename", "restore", "delete",
  // "enumerate", "listdisks") is to fail with E_FAIL.
  bool FailsOn(std::string_view operation) const;
  bool CarriesDrive(char letter) const;
};

// Reads the configuration; a missing key is an empty configuration.
ComponentConfig LoadComponentConfig();

const char* BackendName(Backend backend);

}  // namespace snapshotsvc
