// The snapshot component installed on a fresh host: volumes on a plain
// directory, a loop-mounted btrfs image or a small tmpfs.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/com.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "snapshot/snapshot_service.h"
#include "snapshotsvc/component_config.h"
#include "snapshotsvc/configure.h"
#include "tests/support/snapshotsvc_mount.h"
#include "tests/support/temp_host.h"

namespace snaptest {

inline const char* kDosDevices = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\DOS Devices";

inline snapshot::SnapshotDriveSet Drives(const std::u16string& letter) {
  snapshot::SnapshotDriveSet set;
  set.drives.push_back(snapshot::SNAPSHOT_DRIVE_INFO{letter, 1});
  return set;
}

// The names of a drive's snapshots, newest first (their creation times in
// *times when given); one entry "error <hr>" when the listing fails.
inline std::vector<std::u16string> ListNames(snapshot::ISnapshotService& service, const std::u16string& drive,
                                             std::vector<std::uint64_t>* times = nullptr) {
  snapshot::SnapshotList list;
  if (HRESULT hr = service.EnumerateSnapShots(drive, list, 1); hr != S_OK) {
    return {u"error " + platform::AnsiToWide(std::to_string(hr))};
  }
  std::vector<std::u16string> names;
  for (const auto& entry : list.entries) {
    names.push_back(entry.name);
    if (times != nullptr) times->push_back(FileTimeToU64(entry.creationTime));
  }
  return names;
}

// A fresh host with the component's class servers; tmp_ is a folder of the
// test outside every volume, mount_ a file system mounted for it.
class SnapshotHost : public testing::Test {
 protected:
  SnapshotHost() { snapshotsvc::RegisterClassServers(); }

  // Maps the drive to hostDir and prepares it as a volume for the backend.
  void AddVolume(snapshotsvc::Backend backend, char letter, const std::string& hostDir) {
    std::string error;
    ASSERT_TRUE(snapshotsvc::PrepareVolume(backend, hostDir, &error)) << error;
    platform::RegSetString(kDosDevices, std::string(1, letter) + ":", hostDir);
  }
  void Install(snapshotsvc::Backend backend, const std::string& letters) {
    snapshotsvc::DiskConfig disk{"vol_data", "disk1", "\\\\filer1\\vol_data\\disk1",
                                 std::vector<char>(letters.begin(), letters.end())};
    std::string error;
    ASSERT_TRUE(snapshotsvc::InstallComponent(backend, {disk}, &error)) << error;
  }
  std::unique_ptr<snapshot::ISnapshotService> Service() {
    std::unique_ptr<platform::IClassFactory> factory;
    EXPECT_EQ(platform::CoGetClassObject(snapshot::CLSID_SnapshotService, 5, factory), S_OK);
    std::unique_ptr<snapshot::ISnapshotService> service;
    if (factory) {
      EXPECT_EQ(platform::CreateInstance(*factory, snapshot::IID_ISnapshotService, service), S_OK);
    }
    return service;
  }

  TempHostRoot root_{HostOptions{"", "", "", "", ""}};
  std::string tmp_ = root_.path().string();
  std::unique_ptr<Mount> mount_;
};

}  // namespace snaptest
