// The snapshot interface, for every backend, through the class factory as
// the engine reaches it.
#include <btrfsutil.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <future>
#include <regex>

#include "platform/clock.h"
#include "platform/volume_freeze.h"
#include "snapshot_host.h"
#include "snapshotsvc/snapshot_service_impl.h"
#include "snapshotsvc/tree_ops.h"

namespace snaptest {
namespace {

using Names = std::vector<std::u16string>;
const HRESULT kAlreadyExists = HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
const HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
const HRESULT kPathNotFound = HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);

// One volume D: under the component, for each way of running it: the dir
// backend on a plain directory (copies), the dir backend on btrfs
// (reflinks) and the btrfs backend (subvolume snapshots).
struct Flavor {
  const char* name;
  snapshotsvc::Backend backend;
  bool onBtrfs;
};
void PrintTo(const Flavor& flavor, std::ostream* os) { *os << flavor.name; }

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
  HRESULT Create(const std::u16string& name, const std::u16string& drive = u"D") {
    return service_->CreateSnapShot(Drives(drive), name);
  }
  Names List(std::vector<std::uint64_t>* times = nullptr) { return ListNames(*service_, u"D", times); }
  // What remains of interrupted or failed calls in the store's work area.
  bool NoWorkLeft() { return !fs::exists(store_ + "/work") || fs::is_empty(store_ + "/work"); }

  std::string base_, volume_, store_;
  std::unique_ptr<snapshot::ISnapshotService> service_;
};

std::uint64_t Now() {
  FILETIME now;
  platform::GetSystemTimeAsFileTime(now);
  return FileTimeToU64(now);
}

TEST_P(BackendTest, NamesIgnoreCaseAndKeepTheirCreationTime) {
  WriteHostFile(volume_ + "/a.nsf", "one");
  const std::uint64_t before = Now();
  ASSERT_EQ(Create(u"dominosnap__Host__srv1__recent"), S_OK);
  ASSERT_EQ(Create(u"Second", u"d"), S_OK);  // drive letters in either case
  const std::uint64_t after = Now();
  std::vector<std::uint64_t> times;
  ASSERT_EQ(List(&times), (Names{u"Second", u"dominosnap__Host__srv1__recent"}));
  EXPECT_GE(times[1], before);  // UTC FILETIMEs of the moment each was taken
  EXPECT_LE(times[0], after);
  EXPECT_GT(times[0], times[1]);
  // The same name in other letters is the same snapshot: refused, list unchanged.
  EXPECT_EQ(Create(u"SECOND"), kAlreadyExists);
  std::vector<std::uint64_t> again;
  EXPECT_EQ(List(&again), (Names{u"Second", u"dominosnap__Host__srv1__recent"}));
  EXPECT_EQ(again, times);

  // Renamed from any case, also to other letters only, keeping the time and content.
  const std::u16string dated = u"dominosnap__H__srv__2-3-2003_9.5.7";
  EXPECT_EQ(service_->RenameSnapShot(u"D", u"DOMINOSNAP__host__SRV1__RECENT", dated), S_OK);
  EXPECT_EQ(service_->RenameSnapShot(u"D", dated, u"DOMINOSNAP__H__SRV__2-3-2003_9.5.7"), S_OK);
  again.clear();
  EXPECT_EQ(List(&again), (Names{u"Second", u"DOMINOSNAP__H__SRV__2-3-2003_9.5.7"}));
  EXPECT_EQ(again, times);
  // Onto an existing name (in other case): refused, both kept.
  EXPECT_EQ(service_->RenameSnapShot(u"D", u"second", dated), kAlreadyExists);
  EXPECT_EQ(service_->RenameSnapShot(u"D", u"missing", u"x"), kNotFound);
  EXPECT_EQ(List().size(), 2u);

  std::uint8_t flag = 0;
  EXPECT_EQ(service_->DeleteSnapShot(u"D", dated, &flag), S_OK);
  EXPECT_EQ(List(), Names{u"Second"});
  EXPECT_EQ(service_->DeleteSnapShot(u"D", dated, &flag), kNotFound);
  EXPECT_EQ(service_->DeleteSnapShot(u"D", u"second", nullptr), S_OK);
  EXPECT_TRUE(List().empty());
  // Deleted snapshots leave nothing behind in the store.
  EXPECT_TRUE(NoWorkLeft());
  EXPECT_TRUE(fs::is_empty(store_ + "/snapshots"));
  EXPECT_EQ(ReadHostFile(volume_ + "/a.nsf"), "one");
}

TEST_P(BackendTest, RestoreMakesVolumeEqualToSnapshot) {
  WriteHostFile(volume_ + "/Domino/Data/a.nsf", "version 1");
  WriteHostFile(volume_ + "/Domino/Data/sub/b.nsf", "bee");
  fs::create_directories(volume_ + "/Domino/empty");
  fs::create_symlink("Data/a.nsf", volume_ + "/Domino/link");
  ::chmod((volume_ + "/Domino/Data/sub/b.nsf").c_str(), 0640);
  const auto mtime = fs::last_write_time(volume_ + "/Domino/Data/a.nsf");
  const std::vector<std::string> expected = Listing(volume_);
  ASSERT_EQ(Create(u"base"), S_OK);

  // Later changes: a file rewritten, files and directories added, one removed.
  WriteHostFile(volume_ + "/Domino/Data/a.nsf", "version 2, longer than before");
  WriteHostFile(volume_ + "/Domino/Data/c.nsf", "later file");
  WriteHostFile(volume_ + "/Domino/newdir/deep/x.nsf", "later dir");
  fs::remove(volume_ + "/Domino/Data/sub/b.nsf");

  ASSERT_EQ(service_->RestoreSnapShot(u"d", u"BASE"), S_OK);
  EXPECT_EQ(Listing(volume_), expected);
  EXPECT_EQ(fs::last_write_time(volume_ + "/Domino/Data/a.nsf"), mtime);
  struct stat st;
  ASSERT_EQ(::stat((volume_ + "/Domino/Data/sub/b.nsf").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  // Nothing staged beside the volume is left over.
  for (const auto& entry : fs::directory_iterator(base_ + "/volumes")) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "D" || name == ".snapshots") << name;
  }
  if (GetParam().backend == snapshotsvc::Backend::Btrfs) {
    EXPECT_TRUE(snapshotsvc::IsBtrfsSubvolume(volume_));
  }
  EXPECT_EQ(List(), Names{u"base"});
}

// Bad names and drives, and failures injected by FailOn, change nothing.
TEST_P(BackendTest, BadInputsAndInjectedFailuresChangeNothing) {
  WriteHostFile(volume_ + "/a.nsf", "keep");
  ASSERT_EQ(Create(u"good"), S_OK);
  const std::vector<std::string> volumeBefore = Listing(volume_);
  std::uint8_t flag = 0;
  for (const std::u16string& bad : {std::u16string(u""), std::u16string(u"."), std::u16string(u".."),
                                    std::u16string(u"a/b"), std::u16string(u"a\\b"), std::u16string(u"a\0b", 3),
                                    std::u16string(u"tab\there"), std::u16string(u"line\nbreak")}) {
    SCOPED_TRACE(platform::WideToAnsi(bad));
    EXPECT_EQ(Create(bad), E_INVALIDARG);
    EXPECT_EQ(service_->RestoreSnapShot(u"D", bad), E_INVALIDARG);
    EXPECT_EQ(service_->DeleteSnapShot(u"D", bad, &flag), E_INVALIDARG);
    EXPECT_EQ(service_->RenameSnapShot(u"D", u"good", bad), E_INVALIDARG);
    EXPECT_EQ(service_->RenameSnapShot(u"D", bad, u"fine"), E_INVALIDARG);
  }
  EXPECT_EQ(Create(std::u16string(300, u'x')), HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE));
  EXPECT_EQ(Create(u"n1", u""), E_INVALIDARG);
  EXPECT_EQ(Create(u"n1", u"1"), E_INVALIDARG);
  EXPECT_EQ(service_->CreateSnapShot(snapshot::SnapshotDriveSet{}, u"n1"), E_INVALIDARG);
  EXPECT_EQ(service_->RestoreSnapShot(u"D", u"unknown"), kNotFound);
  // Drives not carried by a disk, carried but unmapped, mapped to a directory that does not exist.
  Install(GetParam().backend, "DEF");
  platform::RegSetString(kDosDevices, "F:", tmp_ + "/no-such-dir");
  for (const std::u16string drive : {u"Q", u"E", u"F"}) {
    SCOPED_TRACE(platform::WideToAnsi(drive));
    EXPECT_EQ(Create(u"n1", drive), kPathNotFound);
    EXPECT_EQ(ListNames(*service_, drive), Names{u"error " + platform::AnsiToWide(std::to_string(kPathNotFound))});
    EXPECT_EQ(service_->RestoreSnapShot(drive, u"good"), kPathNotFound);
    EXPECT_EQ(service_->DeleteSnapShot(drive, u"good", &flag), kPathNotFound);
    EXPECT_EQ(service_->RenameSnapShot(drive, u"good", u"n2"), kPathNotFound);
  }
  // Two drives where one is missing: all or nothing.
  snapshot::SnapshotDriveSet both = Drives(u"D");
  both.drives.push_back(snapshot::SNAPSHOT_DRIVE_INFO{u"F", 1});
  EXPECT_EQ(service_->CreateSnapShot(both, u"n3"), kPathNotFound);

  // The calls named in FailOn fail (the registry value is the system tests'), the others work.
  ::setenv(snapshotsvc::kFailOnEnvironment, "Restore,listdisks", 1);
  std::vector<snapshot::DiskInfo> disks;
  EXPECT_EQ(service_->RestoreSnapShot(u"D", u"good"), E_FAIL);
  EXPECT_EQ(snapshotsvc::DiskServiceImpl().ListDisks(disks), E_FAIL);
  EXPECT_EQ(List(), Names{u"good"});
  ::unsetenv(snapshotsvc::kFailOnEnvironment);

  EXPECT_EQ(Listing(volume_), volumeBefore);
  EXPECT_TRUE(NoWorkLeft());
  EXPECT_FALSE(fs::exists(tmp_ + "/no-such-dir"));
}

// The component takes the volume freeze: a snapshot waits for a writer that
// holds the volume and then holds its whole write.
TEST_P(BackendTest, WriterHoldingSharedLockDelaysSnapshot) {
  WriteHostFile(volume_ + "/page.nsf", "before");
  platform::VolumeLock writer;
  ASSERT_TRUE(writer.Lock('D', platform::VolumeLock::Kind::SharedWrite));
  auto pending = std::async(std::launch::async, [this] { return Create(u"frozen"); });
  // The snapshot's request waits in the kernel: /proc/locks lists it after "->".
  struct stat lock;
  ASSERT_EQ(::stat((tmp_ + "/locks/volume-D.lock").c_str(), &lock), 0);
  const std::regex waiter("-> FLOCK +ADVISORY +WRITE +[0-9]+ [0-9a-f:]+:" + std::to_string(lock.st_ino) + " ");
  bool waits = false;
  for (int i = 0; i < 12000 && !(waits = std::regex_search(ReadHostFile("/proc/locks"), waiter)); ++i) ::usleep(10000);
  EXPECT_TRUE(waits) << "the snapshot did not wait for the writer";
  WriteHostFile(volume_ + "/page.nsf", "written while the writer held the volume");
  writer.Unlock();
  ASSERT_EQ(pending.get(), S_OK);
  WriteHostFile(volume_ + "/page.nsf", "after");
  ASSERT_EQ(service_->RestoreSnapShot(u"D", u"frozen"), S_OK);
  EXPECT_EQ(ReadHostFile(volume_ + "/page.nsf"), "written while the writer held the volume");
}

TEST_P(BackendTest, LeftoversOfInterruptedCallsAreIgnoredThenCleaned) {
  WriteHostFile(volume_ + "/a.nsf", "data");
  ASSERT_EQ(Create(u"real"), S_OK);
  // A snapshot cut short while being made (for btrfs with its subvolume), a snapshot
  // folder with damaged metadata, a restore cut short before its swap.
  fs::create_directories(store_ + "/work/tmp-crashed");
  if (GetParam().backend == snapshotsvc::Backend::Btrfs) {
    ASSERT_EQ(btrfs_util_create_snapshot(volume_.c_str(), (store_ + "/work/tmp-crashed/data").c_str(),
                                         BTRFS_UTIL_CREATE_SNAPSHOT_READ_ONLY, nullptr, nullptr),
              BTRFS_UTIL_OK);
  } else {
    WriteHostFile(store_ + "/work/tmp-crashed/data/a.nsf", "half");
  }
  WriteHostFile(store_ + "/snapshots/damaged/snapshot.meta", "ark-snapshot 1\nName=damaged\n");
  WriteHostFile(base_ + "/volumes/.ark-restore-D/a.nsf", "staged");

  EXPECT_EQ(List(), Names{u"real"});
  ASSERT_EQ(Create(u"next"), S_OK);
  EXPECT_TRUE(NoWorkLeft());
  EXPECT_FALSE(fs::exists(base_ + "/volumes/.ark-restore-D"));
  EXPECT_EQ(List(), (Names{u"next", u"real"}));
  // The damaged folder is not ours to remove, and blocks only its own name.
  EXPECT_EQ(Create(u"damaged"), kAlreadyExists);
}

INSTANTIATE_TEST_SUITE_P(Backends, BackendTest,
                         testing::Values(Flavor{"DirCopy", snapshotsvc::Backend::Dir, false},
                                         Flavor{"DirReflink", snapshotsvc::Backend::Dir, true},
                                         Flavor{"Btrfs", snapshotsvc::Backend::Btrfs, true}),
                         [](const testing::TestParamInfo<Flavor>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace snaptest
