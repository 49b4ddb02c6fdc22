// Installing the component: class registration, the disk list, volume
// preparation and refused configurations.
#include "platform/registry.h"
#include "snapshot_host.h"
#include "snapshotsvc/snapshot_service_impl.h"
#include "snapshotsvc/tree_ops.h"

namespace snaptest {
namespace {

using snapshotsvc::Backend;
using snapshotsvc::DiskConfig;

using RegistrationTest = SnapshotHost;

HRESULT GetFactory(const platform::GUID& clsid) {
  std::unique_ptr<platform::IClassFactory> factory;
  return platform::CoGetClassObject(clsid, 5, factory);
}

TEST_F(RegistrationTest, ClassesAreFoundOnlyOnceInstalled) {
  EXPECT_EQ(GetFactory(snapshot::CLSID_SnapshotService), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(GetFactory(snapshot::CLSID_DiskService), REGDB_E_CLASSNOTREG);
  Install(Backend::Dir, "D");
  EXPECT_EQ(GetFactory(snapshot::CLSID_SnapshotService), S_OK);
  EXPECT_EQ(GetFactory(snapshot::CLSID_DiskService), S_OK);

  // Each factory hands out its own interface only.
  std::unique_ptr<platform::IClassFactory> factory;
  ASSERT_EQ(platform::CoGetClassObject(snapshot::CLSID_SnapshotService, 0x15, factory), S_OK);
  std::unique_ptr<snapshot::IDiskService> wrong;
  EXPECT_EQ(platform::CreateInstance(*factory, snapshot::IID_IDiskService, wrong), E_NOINTERFACE);
  EXPECT_EQ(wrong, nullptr);
}

TEST_F(RegistrationTest, ListDisksReportsConfiguredDisksInOrder) {
  std::string error;
  ASSERT_TRUE(snapshotsvc::InstallComponent(
      Backend::Dir,
      {DiskConfig{"vol_data", "disk1", "\\\\filer1\\vol_data\\disk1", {'d', 'E'}},
       DiskConfig{"vol_logs", "disk7", "\\\\filer2\\vol_logs", {'L'}},
       DiskConfig{"vol_empty", "disk0", "\\\\filer2\\vol_empty", {}}},
      &error))
      << error;
  std::unique_ptr<platform::IClassFactory> factory;
  ASSERT_EQ(platform::CoGetClassObject(snapshot::CLSID_DiskService, 5, factory), S_OK);
  std::unique_ptr<snapshot::IDiskService> disks;
  ASSERT_EQ(platform::CreateInstance(*factory, snapshot::IID_IDiskService, disks), S_OK);
  std::vector<snapshot::DiskInfo> list;
  ASSERT_EQ(disks->ListDisks(list), S_OK);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].diskPath, u"/vol_data/disk1");
  EXPECT_EQ(list[0].devicePath, u"\\\\filer1\\vol_data\\disk1");
  EXPECT_EQ(list[0].driveLetters, (std::vector<std::u16string>{u"D", u"E"}));
  EXPECT_EQ(list[1].diskPath, u"/vol_logs/disk7");
  EXPECT_EQ(list[1].driveLetters, std::vector<std::u16string>{u"L"});
  EXPECT_TRUE(list[2].driveLetters.empty());

  // Reinstalling replaces the configuration whole.
  ASSERT_TRUE(snapshotsvc::InstallComponent(
      Backend::Btrfs, {DiskConfig{"v2", "d2", "\\\\f\\v2", {'X'}}}, &error));
  ASSERT_EQ(disks->ListDisks(list), S_OK);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].diskPath, u"/v2/d2");
}

TEST_F(RegistrationTest, BadConfigurationIsRefusedAndEarlierOneKept) {
  std::string error;
  ASSERT_TRUE(snapshotsvc::InstallComponent(
      Backend::Dir, {DiskConfig{"vol", "disk", "\\\\filer\\vol", {'D'}}}, &error));
  const std::vector<std::pair<DiskConfig, std::string>> bad = {
      {DiskConfig{"", "disk", "\\\\f\\v", {'D'}}, "invalid volume name"},
      {DiskConfig{"a/b", "disk", "\\\\f\\v", {'D'}}, "invalid volume name"},
      {DiskConfig{"vol", "", "\\\\f\\v", {'D'}}, "invalid disk name"},
      {DiskConfig{"vol", "disk", "filer\\vol", {'D'}}, "does not begin with"},
      {DiskConfig{"vol", "disk", "\\\\f\\v", {'1'}}, "invalid drive letter"},
      {DiskConfig{"vol", "disk", "\\\\f\\v", {'D', 'd'}}, "named by two disks"},
  };
  for (const auto& [disk, message] : bad) {
    error.clear();
    EXPECT_FALSE(snapshotsvc::InstallComponent(Backend::Btrfs, {disk}, &error));
    EXPECT_NE(error.find(message), std::string::npos) << error;
  }
  snapshotsvc::DiskServiceImpl disks;
  std::vector<snapshot::DiskInfo> list;
  ASSERT_EQ(disks.ListDisks(list), S_OK);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].diskPath, u"/vol/disk");
  std::string backend;
  EXPECT_EQ(platform::RegGetString(snapshotsvc::kConfigKey, "Backend", backend), LONG(ERROR_SUCCESS));
  EXPECT_EQ(backend, "dir");
}

TEST_F(RegistrationTest, PrepareVolumeAndBackendUsable) {
  std::string error;
  EXPECT_TRUE(snapshotsvc::BackendUsable(Backend::Dir, tmp_));
  EXPECT_FALSE(snapshotsvc::BackendUsable(Backend::Dir, tmp_ + "/missing"));
  EXPECT_TRUE(snapshotsvc::PrepareVolume(Backend::Dir, tmp_ + "/vols/D", &error)) << error;
  EXPECT_TRUE(fs::is_directory(tmp_ + "/vols/D"));
  if (!snapshotsvc::IsOnBtrfs(tmp_)) {
    EXPECT_FALSE(snapshotsvc::BackendUsable(Backend::Btrfs, tmp_));
    EXPECT_FALSE(snapshotsvc::PrepareVolume(Backend::Btrfs, tmp_ + "/vols/E", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(fs::exists(tmp_ + "/vols/E"));
  }

  std::string why;
  mount_ = Mount::Btrfs(tmp_ + "/btrfs.img", tmp_ + "/mnt", 300, &why);
  if (!mount_) GTEST_SKIP() << "btrfs part skipped: " << why;
  EXPECT_TRUE(snapshotsvc::BackendUsable(Backend::Btrfs, tmp_ + "/mnt"));
  EXPECT_TRUE(fs::is_empty(tmp_ + "/mnt"));  // the probe is gone
  ASSERT_TRUE(snapshotsvc::PrepareVolume(Backend::Btrfs, tmp_ + "/mnt/D", &error)) << error;
  EXPECT_TRUE(snapshotsvc::IsBtrfsSubvolume(tmp_ + "/mnt/D"));
  EXPECT_TRUE(snapshotsvc::PrepareVolume(Backend::Btrfs, tmp_ + "/mnt/D", &error));  // again: fine
  fs::create_directories(tmp_ + "/mnt/plain");
  EXPECT_FALSE(snapshotsvc::PrepareVolume(Backend::Btrfs, tmp_ + "/mnt/plain", &error));
  EXPECT_NE(error.find("not a btrfs subvolume"), std::string::npos) << error;
}

}  // namespace
}  // namespace snaptest
