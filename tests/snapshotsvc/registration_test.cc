// Installing the component (class registration, the disk list, volume
// preparation, refused configurations) and the dir backend's own cases: a
// full disk, a store inside the volume, what a clone carries.
#include <sys/statvfs.h>

#include "platform/registry.h"
#include "snapshot_host.h"
#include "snapshotsvc/snapshot_service_impl.h"
#include "snapshotsvc/tree_ops.h"

namespace snaptest {
namespace {

using snapshotsvc::Backend;
using snapshotsvc::DiskConfig;
using RegistrationTest = SnapshotHost;
using DirBackendTest = SnapshotHost;

HRESULT GetFactory(const platform::GUID& clsid) {
  std::unique_ptr<platform::IClassFactory> factory;
  return platform::CoGetClassObject(clsid, 5, factory);
}

TEST_F(RegistrationTest, ClassesAndDisksOfTheInstalledConfiguration) {
  EXPECT_EQ(GetFactory(snapshot::CLSID_SnapshotService), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(GetFactory(snapshot::CLSID_DiskService), REGDB_E_CLASSNOTREG);
  std::string error;
  ASSERT_TRUE(snapshotsvc::InstallComponent(
      Backend::Dir,
      {DiskConfig{"vol_data", "disk1", "\\\\filer1\\vol_data\\disk1", {'d', 'E'}},
       DiskConfig{"vol_logs", "disk7", "\\\\filer2\\vol_logs", {'L'}},
       DiskConfig{"vol_empty", "disk0", "\\\\filer2\\vol_empty", {}}},
      &error))
      << error;
  EXPECT_EQ(GetFactory(snapshot::CLSID_SnapshotService), S_OK);
  // Each factory hands out its own interface only.
  std::unique_ptr<platform::IClassFactory> factory;
  ASSERT_EQ(platform::CoGetClassObject(snapshot::CLSID_DiskService, 0x15, factory), S_OK);
  std::unique_ptr<snapshot::ISnapshotService> wrong;
  EXPECT_EQ(platform::CreateInstance(*factory, snapshot::IID_ISnapshotService, wrong), E_NOINTERFACE);
  EXPECT_EQ(wrong, nullptr);
  std::unique_ptr<snapshot::IDiskService> disks;
  ASSERT_EQ(platform::CreateInstance(*factory, snapshot::IID_IDiskService, disks), S_OK);
  auto listed = [&] {  // each disk: its path, device path and drive letters
    std::vector<snapshot::DiskInfo> list;
    std::u16string text = disks->ListDisks(list) == S_OK ? u"" : u"failed";
    for (const auto& disk : list) {
      text += disk.diskPath + u" " + disk.devicePath;
      for (const std::u16string& letter : disk.driveLetters) text += u" " + letter;
      text += u";";
    }
    return platform::WideToAnsi(text);
  };
  const std::string three = "/vol_data/disk1 \\\\filer1\\vol_data\\disk1 D E;/vol_logs/disk7 \\\\filer2\\vol_logs L;"
                            "/vol_empty/disk0 \\\\filer2\\vol_empty;";
  EXPECT_EQ(listed(), three);

  // A bad configuration is refused and the earlier one kept.
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
  EXPECT_EQ(listed(), three);
  std::string backend;
  EXPECT_EQ(platform::RegGetString(snapshotsvc::kConfigKey, "Backend", backend), LONG(ERROR_SUCCESS));
  EXPECT_EQ(backend, "dir");
  // Reinstalling replaces the configuration whole.
  ASSERT_TRUE(snapshotsvc::InstallComponent(Backend::Btrfs, {DiskConfig{"v2", "d2", "\\\\f\\v2", {'X'}}}, &error));
  EXPECT_EQ(listed(), "/v2/d2 \\\\f\\v2 X;");
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
  // A clone is never merged into an existing tree.
  EXPECT_EQ(snapshotsvc::CloneTree(tmp_ + "/vols", tmp_ + "/vols/D"), HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS));

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

  // On btrfs the dir backend shares extents instead of copying, and a shared
  // file is still independent of its source once written.
  WriteHostFile(tmp_ + "/mnt/src/f.nsf", std::string(200000, 'z'));
  WriteHostFile(tmp_ + "/mnt/src/sub/g.nsf", "gee");
  snapshotsvc::CloneStats stats;
  ASSERT_EQ(snapshotsvc::CloneTree(tmp_ + "/mnt/src", tmp_ + "/mnt/dst", &stats), S_OK);
  EXPECT_EQ(stats.reflinked, 2u);
  EXPECT_EQ(Listing(tmp_ + "/mnt/dst"), Listing(tmp_ + "/mnt/src"));
  WriteHostFile(tmp_ + "/mnt/dst/f.nsf", "rewritten");
  EXPECT_EQ(ReadHostFile(tmp_ + "/mnt/src/f.nsf"), std::string(200000, 'z'));
}

std::uint64_t FreeBytes(const std::string& path) {
  struct statvfs st;
  return ::statvfs(path.c_str(), &st) == 0 ? std::uint64_t(st.f_bavail) * st.f_frsize : 0;
}

TEST_F(DirBackendTest, FullDiskFailsCreateAndRestoreWithoutLosingAnything) {
  std::string why;
  const std::string small = tmp_ + "/small";
  mount_ = Mount::Tmpfs(small, 6144, &why);
  if (!mount_) GTEST_SKIP() << "full-disk test skipped: " << why;
  const std::string volume = small + "/volumes/D";
  AddVolume(Backend::Dir, 'D', volume);
  Install(Backend::Dir, "D");
  auto service = Service();
  ASSERT_NE(service, nullptr);
  WriteHostFile(volume + "/a.nsf", std::string(1536 * 1024, 'a'));
  ASSERT_EQ(service->CreateSnapShot(Drives(u"D"), u"fits"), S_OK);
  WriteHostFile(volume + "/later.nsf", std::string(2900 * 1024, 'l'));
  const std::vector<std::string> volumeBefore = Listing(volume);
  const std::uint64_t freeBefore = FreeBytes(small);

  // The copy of a second snapshot does not fit: no snapshot, space given back.
  EXPECT_EQ(service->CreateSnapShot(Drives(u"D"), u"too_big"), HRESULT_FROM_WIN32(ERROR_DISK_FULL));
  EXPECT_EQ(ListNames(*service, u"D"), std::vector<std::u16string>{u"fits"});
  EXPECT_TRUE(fs::is_empty(small + "/volumes/.snapshots/D/work"));
  EXPECT_EQ(FreeBytes(small), freeBefore);
  // The restored tree cannot be staged: the volume stays as it was.
  EXPECT_EQ(service->RestoreSnapShot(u"D", u"fits"), HRESULT_FROM_WIN32(ERROR_DISK_FULL));
  EXPECT_EQ(Listing(volume), volumeBefore);
  EXPECT_FALSE(fs::exists(small + "/volumes/.ark-restore-D"));
  EXPECT_EQ(FreeBytes(small), freeBefore);
  // Once there is room again both work.
  fs::remove(volume + "/later.nsf");
  EXPECT_EQ(service->RestoreSnapShot(u"D", u"fits"), S_OK);
  EXPECT_EQ(ReadHostFile(volume + "/a.nsf"), std::string(1536 * 1024, 'a'));
}

TEST_F(DirBackendTest, StoreInsideTheVolumeIsRefused) {
  const std::string volume = tmp_ + "/volumes/D";
  AddVolume(Backend::Dir, 'D', volume);
  Install(Backend::Dir, "D");
  WriteHostFile(volume + "/a.nsf", "data");
  platform::RegSetString(snapshotsvc::kConfigKey, "SnapshotStore", volume + "/snaps");
  auto service = Service();
  EXPECT_EQ(service->CreateSnapShot(Drives(u"D"), u"self"), E_INVALIDARG);
  EXPECT_EQ(Listing(volume), std::vector<std::string>{"a.nsf=data"});
  // A store elsewhere is honoured.
  platform::RegSetString(snapshotsvc::kConfigKey, "SnapshotStore", tmp_ + "/elsewhere/");
  EXPECT_EQ(service->CreateSnapShot(Drives(u"D"), u"away"), S_OK);
  EXPECT_EQ(ReadHostFile(tmp_ + "/elsewhere/D/snapshots/away/data/a.nsf"), "data");
}

}  // namespace
}  // namespace snaptest
