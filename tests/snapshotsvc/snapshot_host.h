// The snapshot component installed on a fresh host: volumes on a plain
// directory, a loop-mounted btrfs image or a small tmpfs.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/com.h"
#include "platform/registry.h"
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

inline std::vector<std::u16string> Names(const snapshot::SnapshotList& list) {
  std::vector<std::u16string> names;
  for (const auto& entry : list.entries) names.push_back(entry.name);
  return names;
}

// A fresh host with the component's class servers; tmp_ is a folder of the
// test outside every volume, mount_ a file system mounted for it.
class SnapshotHost : public testing::Test {
 protected:
  SnapshotHost() { snapshotsvc::RegisterClassServers(); }
  void TearDown() override { mount_.reset(); }

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

// One volume D: under the component, for each way of running it: the dir
// backend on a plain directory (copies), the dir backend on btrfs
// (reflinks) and the btrfs backend (subvolume snapshots).
struct Flavor {
  const char* name;
  snapshotsvc::Backend backend;
  bool onBtrfs;
};
inline void PrintTo(const Flavor& flavor, std::ostream* os) { *os << flavor.name; }

class BackendTest : public SnapshotHost, public testing::WithParamInterface<Flavor> {
 protected:
  void SetUp() override {
    base_ = tmp_ + "/vols";
    if (GetParam().onBtrfs) {
      std::string why;
      base_ = tmp_ + "/mnt";
      mount_ = Mount::Btrfs(tmp_ + "/btrfs.img", base_, 300, &why);
      if (!mount_) GTEST_SKIP() << "btrfs volume tests skipped: " << why;
    }
    fs::create_directories(base_ + "/volumes");
    volume_ = base_ + "/volumes/D";
    store_ = base_ + "/volumes/.snapshots/D";
    AddVolume(GetParam().backend, 'D', volume_);
    Install(GetParam().backend, "D");
    service_ = Service();
    ASSERT_NE(service_, nullptr);
  }
  void TearDown() override {
    service_.reset();
    SnapshotHost::TearDown();
  }

  HRESULT Create(const std::u16string& name, const std::u16string& drive = u"D") {
    return service_->CreateSnapShot(Drives(drive), name);
  }
  std::vector<std::u16string> ListNames(const std::u16string& drive = u"D") {
    snapshot::SnapshotList list;
    EXPECT_EQ(service_->EnumerateSnapShots(drive, list, 1), S_OK);
    return Names(list);
  }
  // What remains of interrupted or failed calls in the store's work area.
  std::vector<std::string> WorkLeftovers() {
    std::vector<std::string> out;
    if (!fs::exists(store_ + "/work")) return out;
    for (const auto& entry : fs::directory_iterator(store_ + "/work")) out.push_back(entry.path().filename().string());
    return out;
  }

  std::string base_, volume_, store_;
  std::unique_ptr<snapshot::ISnapshotService> service_;
};

inline const Flavor kFlavors[] = {
    {"DirCopy", snapshotsvc::Backend::Dir, false},
    {"DirReflink", snapshotsvc::Backend::Dir, true},
    {"Btrfs", snapshotsvc::Backend::Btrfs, true},
};

}  // namespace snaptest
