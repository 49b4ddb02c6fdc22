// The dir backend's own cases: a full disk, a store inside the volume, and
// what a clone carries (reflinks where the file system has them).
#include <sys/statvfs.h>

#include "platform/registry.h"
#include "snapshot_host.h"
#include "snapshotsvc/tree_ops.h"

namespace snaptest {
namespace {

using snapshotsvc::Backend;

const HRESULT kDiskFull = HRESULT_FROM_WIN32(ERROR_DISK_FULL);

std::uint64_t FreeBytes(const std::string& path) {
  struct statvfs st;
  if (::statvfs(path.c_str(), &st) != 0) return 0;
  return std::uint64_t(st.f_bavail) * st.f_frsize;
}

using DirBackendTest = SnapshotHost;

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
  EXPECT_EQ(service->CreateSnapShot(Drives(u"D"), u"too_big"), kDiskFull);
  snapshot::SnapshotList list;
  ASSERT_EQ(service->EnumerateSnapShots(u"D", list, 1), S_OK);
  EXPECT_EQ(Names(list), std::vector<std::u16string>{u"fits"});
  EXPECT_TRUE(fs::is_empty(small + "/volumes/.snapshots/D/work"));
  EXPECT_EQ(FreeBytes(small), freeBefore);

  // The restored tree cannot be staged: the volume stays as it was.
  EXPECT_EQ(service->RestoreSnapShot(u"D", u"fits"), kDiskFull);
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

// On btrfs the dir backend shares extents instead of copying, and a shared
// file is still independent of its source once written.
TEST_F(DirBackendTest, CloneUsesReflinksWhereTheFileSystemHasThem) {
  WriteHostFile(tmp_ + "/plain/src/f.nsf", std::string(200000, 'z'));
  snapshotsvc::CloneStats stats;
  ASSERT_EQ(snapshotsvc::CloneTree(tmp_ + "/plain/src", tmp_ + "/plain/dst", &stats), S_OK);
  EXPECT_EQ(stats.files, 1u);
  EXPECT_EQ(ReadHostFile(tmp_ + "/plain/dst/f.nsf"), std::string(200000, 'z'));
  // Never merged into an existing tree.
  EXPECT_EQ(snapshotsvc::CloneTree(tmp_ + "/plain/src", tmp_ + "/plain/dst"),
            HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS));

  std::string why;
  mount_ = Mount::Btrfs(tmp_ + "/btrfs.img", tmp_ + "/mnt", 300, &why);
  if (!mount_) GTEST_SKIP() << "reflink part skipped: " << why;
  WriteHostFile(tmp_ + "/mnt/src/f.nsf", std::string(200000, 'z'));
  WriteHostFile(tmp_ + "/mnt/src/sub/g.nsf", "gee");
  ASSERT_EQ(snapshotsvc::CloneTree(tmp_ + "/mnt/src", tmp_ + "/mnt/dst", &stats), S_OK);
  EXPECT_EQ(stats.reflinked, 2u);
  EXPECT_EQ(Listing(tmp_ + "/mnt/dst"), Listing(tmp_ + "/mnt/src"));
  WriteHostFile(tmp_ + "/mnt/dst/f.nsf", "rewritten");
  EXPECT_EQ(ReadHostFile(tmp_ + "/mnt/src/f.nsf"), std::string(200000, 'z'));
}

}  // namespace
}  // namespace snaptest
