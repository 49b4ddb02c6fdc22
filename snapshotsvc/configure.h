// Installing the snapshot component on a host: preparing volumes for a
// backend and writing the component's registration and disk configuration
// into the host's registry.
#pragma once

#include <string>
#include <vector>

namespace snapshotsvc {

enum class Backend { Dir, Btrfs };

struct DiskConfig {
  std::string volumeName;         // storage volume name ("vol_data")
  std::string diskName;           // the disk's own name ("disk1")
  std::string devicePath;         // "\\host\pieces..." as the storage reports it
  std::vector<char> driveLetters; // the drives (mapped volumes) the disk carries
};

// Makes hostDir ready to be a snapshot-capable volume for the backend: a
// btrfs subvolume (hostDir must not exist yet and lie on btrfs), a plain
// directory for the dir backend. Returns false with *error set on failure.
bool PrepareVolume(Backend backend, const std::string& hostDir, std::string* error);

// Writes the disk configuration (and the snapshot store when not empty)
// into the registry (replacing an earlier configuration), then, when
// classKeys, the class registrations. Where the component is a COM server
// of the system (Windows), its own registration (regsvr32) writes the class
// keys instead.
bool InstallComponent(Backend backend, const std::vector<DiskConfig>& disks,
                      const std::string& snapshotStore, bool classKeys, std::string* error);
// The configuration and the class keys, snapshots kept beside the volumes.
inline bool InstallComponent(Backend backend, const std::vector<DiskConfig>& disks, std::string* error) {
  return InstallComponent(backend, disks, {}, true, error);
}

// Makes the snapshot and disk classes' in-process servers known to this
// process (called once by every program that reaches the component).
void RegisterClassServers();

}  // namespace snapshotsvc
