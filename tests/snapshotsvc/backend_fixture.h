// One volume D: under the component, for each way of running it: the dir
// backend on a plain directory (copies), the dir backend on btrfs
// (reflinks) and the btrfs backend (subvolume snapshots).
#pragma once

#include <gtest/gtest.h>

#include "snapshot_host.h"

namespace snaptest {

struct Flavor {
  const char* name;
  snapshotsvc::Backend backend;
  bool onBtrfs;
};

inline void PrintTo(const Flavor& flavor, std::ostream* os) { *os << flavor.name; }

inline std::string FlavorName(const testing::TestParamInfo<Flavor>& info) {
  return info.param.name;
}

class BackendTest : public testing::TestWithParam<Flavor> {
 protected:
  void SetUp() override {
    tmp_ = MakeTempDir("ark-snapsvc");
    fs::create_directories(tmp_ + "/root");
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
    host_ = std::make_unique<SnapshotHost>(tmp_ + "/root");
    host_->AddVolume(GetParam().backend, 'D', volume_);
    host_->Install(GetParam().backend, "D");
    service_ = host_->Service();
    ASSERT_NE(service_, nullptr);
  }

  void TearDown() override {
    service_.reset();
    host_.reset();
    mount_.reset();
    std::error_code ignored;
    fs::remove_all(tmp_, ignored);
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
    for (const auto& entry : fs::directory_iterator(store_ + "/work")) {
      out.push_back(entry.path().filename().string());
    }
    return out;
  }

  std::string tmp_, base_, volume_, store_;
  std::unique_ptr<Mount> mount_;
  std::unique_ptr<SnapshotHost> host_;
  std::unique_ptr<snapshot::ISnapshotService> service_;
};

inline const Flavor kFlavors[] = {
    {"DirCopy", snapshotsvc::Backend::Dir, false},
    {"DirReflink", snapshotsvc::Backend::Dir, true},
    {"Btrfs", snapshotsvc::Backend::Btrfs, true},
};

}  // namespace snaptest
