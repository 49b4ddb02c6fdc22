// The snapshot component as the engine reaches it through its class factories:
// registration, then the snapshot interface for every backend.
#include <btrfsutil.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <future>
#include <regex>

#include "platform/clock.h"
#include "platform/com.h"
#include "platform/host.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform/volume_freeze.h"
#include "snapshot/snapshot_service.h"
#include "snapshotsvc/component_config.h"
#include "snapshotsvc/configure.h"
#include "snapshotsvc/snapshot_service_impl.h"
#include "snapshotsvc/tree_ops.h"
#include "tests/support/snapshotsvc_mount.h"
#include "tests/support/temp_host.h"

namespace snaptest {
namespace {

using snapshotsvc::Backend;
using snapshotsvc::DiskConfig;
using Names = std::vector<std::u16string>;
const HRESULT kAlreadyExists = HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
const HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
const HRESULT kPathNotFound = HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
const char* kDosDevices = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\DOS Devices";

ark::snapshot::SnapshotDriveSet Drives(const std::u16string& letter) {
  ark::snapshot::SnapshotDriveSet set;
  set.drives.push_back(ark::snapshot::SNAPSHOT_DRIVE_INFO{letter, 1});
  return set;
}

// A drive's snapshots as listed (creation times in *times); "error <hr>" when the listing fails.
Names ListNames(ark::snapshot::ISnapshotService& service, const std::u16string& drive,
                std::vector<std::uint64_t>* times = nullptr) {
  ark::snapshot::SnapshotList list;
  if (HRESULT hr = service.EnumerateSnapShots(drive, list, 1); hr != S_OK) {
    return {u"error " + platform::AnsiToWide(std::to_string(hr))};
  }
  Names names;
  for (const auto& entry : list.entries) {
    names.push_back(entry.name);
    if (times != nullptr) times->push_back(FileTimeToU64(entry.creationTime));
  }
  return names;
}

// A fresh host with the component's classes; tmp_ lies outside every volume.
class ComponentHost : public testing::Test {
 protected:
  ComponentHost() { snapshotsvc::RegisterClassServers(); }

  // Drive D: mapped to hostDir, prepared as a volume for the backend and
  // installed alone: the service, null on failure.
  std::unique_ptr<ark::snapshot::ISnapshotService> OpenVolumeD(Backend backend, const std::string& hostDir) {
    std::string error;
    EXPECT_TRUE(snapshotsvc::PrepareVolume(backend, hostDir, &error)) << error;
    platform::RegSetString(kDosDevices, "D:", hostDir);
    Install(backend, "D");
    std::unique_ptr<platform::IClassFactory> factory;
    EXPECT_EQ(platform::CoGetClassObject(ark::snapshot::CLSID_SnapshotService, 5, factory), S_OK);
    std::unique_ptr<ark::snapshot::ISnapshotService> service;
    if (!factory || platform::CreateInstance(*factory, ark::snapshot::IID_ISnapshotService, service) != S_OK) {
      ADD_FAILURE() << "no snapshot service";
    }
    return service;
  }
  void Install(Backend backend, const std::string& letters) {
    DiskConfig disk{"vol_data", "disk1", "\\\\filer1\\vol_data\\disk1", std::vector<char>(letters.begin(), letters.end())};
    std::string error;
    ASSERT_TRUE(snapshotsvc::InstallComponent(backend, {disk}, &error)) << error;
  }

  TempHostRoot root_{HostOptions{"", "", "", "", ""}};
  std::string tmp_ = root_.path().string();
  std::unique_ptr<Mount> mount_;
};

// A disk configuration the installer refuses, and its message.
struct BadDisk { const char* what; DiskConfig disk; const char* message; };
void PrintTo(const BadDisk& b, std::ostream* os) { *os << b.what; }
const BadDisk kBadDisks[] = {
    {"NoVolume", DiskConfig{"", "disk", "\\\\f\\v", {'D'}}, "invalid volume name"},
    {"SlashInVolume", DiskConfig{"a/b", "disk", "\\\\f\\v", {'D'}}, "invalid volume name"},
    {"NoDisk", DiskConfig{"vol", "", "\\\\f\\v", {'D'}}, "invalid disk name"},
    {"NotAShare", DiskConfig{"vol", "disk", "filer\\vol", {'D'}}, "does not begin with"},
    {"DigitLetter", DiskConfig{"vol", "disk", "\\\\f\\v", {'1'}}, "invalid drive letter"},
    {"LetterTwice", DiskConfig{"vol", "disk", "\\\\f\\v", {'D', 'd'}}, "named by two disks"},
};
struct ComponentTest : ComponentHost, testing::WithParamInterface<BadDisk> {};

TEST_P(ComponentTest, ClassesAndDisksOfTheInstalledConfiguration) {
  std::unique_ptr<platform::IClassFactory> factory;
  EXPECT_EQ(platform::CoGetClassObject(ark::snapshot::CLSID_SnapshotService, 5, factory), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(platform::CoGetClassObject(ark::snapshot::CLSID_DiskService, 5, factory), REGDB_E_CLASSNOTREG);
  std::string error;
  ASSERT_TRUE(snapshotsvc::InstallComponent(
      Backend::Dir,
      {DiskConfig{"vol_data", "disk1", "\\\\filer1\\vol_data\\disk1", {'d', 'E'}},
       DiskConfig{"vol_logs", "disk7", "\\\\filer2\\vol_logs", {'L'}},
       DiskConfig{"vol_empty", "disk0", "\\\\filer2\\vol_empty", {}}},
      &error))
      << error;
  // Each factory hands out its own interface only.
  ASSERT_EQ(platform::CoGetClassObject(ark::snapshot::CLSID_DiskService, 0x15, factory), S_OK);
  std::unique_ptr<ark::snapshot::ISnapshotService> wrong;
  EXPECT_EQ(platform::CreateInstance(*factory, ark::snapshot::IID_ISnapshotService, wrong), E_NOINTERFACE);
  std::unique_ptr<ark::snapshot::IDiskService> disks;
  ASSERT_EQ(platform::CreateInstance(*factory, ark::snapshot::IID_IDiskService, disks), S_OK);
  auto listed = [&] {  // each disk: its path, device path and drive letters
    std::vector<ark::snapshot::DiskInfo> list;
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
  error.clear();
  EXPECT_FALSE(snapshotsvc::InstallComponent(Backend::Btrfs, {GetParam().disk}, &error));
  EXPECT_NE(error.find(GetParam().message), std::string::npos) << error;
  EXPECT_EQ(listed(), three);
  // Reinstalling replaces the configuration whole.
  ASSERT_TRUE(snapshotsvc::InstallComponent(Backend::Btrfs, {DiskConfig{"v2", "d2", "\\\\f\\v2", {'X'}}}, &error));
  EXPECT_EQ(listed(), "/v2/d2 \\\\f\\v2 X;");
}
INSTANTIATE_TEST_SUITE_P(Rows, ComponentTest, testing::ValuesIn(kBadDisks));

// A snapshot name or a drive refused before any volume is touched: every
// call on them gives the row's result, and nothing changes.
struct BadCall { const char* what; std::u16string drive, name; HRESULT expected; };
void PrintTo(const BadCall& c, std::ostream* os) { *os << c.what; }
const BadCall kBadCalls[] = {
    {"EmptyName", u"D", u"", E_INVALIDARG},
    {"Dot", u"D", u".", E_INVALIDARG},
    {"DotDot", u"D", u"..", E_INVALIDARG},
    {"Slash", u"D", u"a/b", E_INVALIDARG},
    {"Backslash", u"D", u"a\\b", E_INVALIDARG},
    {"Nul", u"D", std::u16string(u"a\0b", 3), E_INVALIDARG},
    {"Tab", u"D", u"tab\there", E_INVALIDARG},
    {"LineBreak", u"D", u"line\nbreak", E_INVALIDARG},
    {"LongName", u"D", std::u16string(300, u'x'), HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE)},
    {"NoDrive", u"", u"n1", E_INVALIDARG},
    {"DigitDrive", u"1", u"n1", E_INVALIDARG},
    {"NotCarried", u"Q", u"n1", kPathNotFound},  // by any disk
    {"Unmapped", u"E", u"n1", kPathNotFound},
    {"NoDirectory", u"F", u"n1", kPathNotFound},  // mapped to a directory that does not exist
};
struct BadNameOrDrive : ComponentHost, testing::WithParamInterface<BadCall> {};

TEST_P(BadNameOrDrive, EveryCallIsRefusedAndNothingChanges) {
  const BadCall& c = GetParam();
  auto service = OpenVolumeD(Backend::Dir, tmp_ + "/vols/volumes/D");
  ASSERT_NE(service, nullptr);
  WriteHostFile(tmp_ + "/vols/volumes/D/a.nsf", "keep");
  ASSERT_EQ(service->CreateSnapShot(Drives(u"D"), u"good"), S_OK);
  Install(Backend::Dir, "DEF");
  platform::RegSetString(kDosDevices, "F:", tmp_ + "/no-such-dir");
  const std::vector<std::string> before = Listing(tmp_ + "/vols");
  std::uint8_t flag = 0;
  EXPECT_EQ(service->CreateSnapShot(Drives(c.drive), c.name), c.expected);
  EXPECT_EQ(service->RestoreSnapShot(c.drive, c.name), c.expected);
  EXPECT_EQ(service->DeleteSnapShot(c.drive, c.name, &flag), c.expected);
  EXPECT_EQ(service->RenameSnapShot(c.drive, u"good", c.name), c.expected);
  EXPECT_EQ(service->RenameSnapShot(c.drive, c.name, u"fine"), c.expected);
  const Names error{u"error " + platform::AnsiToWide(std::to_string(c.expected))};
  EXPECT_EQ(ListNames(*service, c.drive), c.drive == u"D" ? Names{u"good"} : error);
  EXPECT_EQ(Listing(tmp_ + "/vols"), before);
  EXPECT_FALSE(fs::exists(tmp_ + "/no-such-dir"));
}
INSTANTIATE_TEST_SUITE_P(Rows, BadNameOrDrive, testing::ValuesIn(kBadCalls));

// Volume D: under each backend: dir copying, dir reflinking on btrfs, btrfs subvolumes.
struct Flavor {
  const char* name;
  Backend backend;
  bool onBtrfs;
};
void PrintTo(const Flavor& flavor, std::ostream* os) { *os << flavor.name; }

class BackendTest : public ComponentHost, public testing::WithParamInterface<Flavor> {
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
    service_ = OpenVolumeD(GetParam().backend, volume_);
    ASSERT_NE(service_, nullptr);
  }
  HRESULT Create(const std::u16string& name, const std::u16string& drive = u"D") {
    return service_->CreateSnapShot(Drives(drive), name);
  }
  Names List(std::vector<std::uint64_t>* times = nullptr) { return ListNames(*service_, u"D", times); }
  // What remains of interrupted or failed calls in the store's work area.
  bool NoWorkLeft() { return !fs::exists(store_ + "/work") || fs::is_empty(store_ + "/work"); }

  std::string base_, volume_, store_;
  std::unique_ptr<ark::snapshot::ISnapshotService> service_;
};

// A snapshot keeps its content, its creation time and its name, which is
// matched in any letter case, until it is deleted.
TEST_P(BackendTest, CreateListRenameRestoreAndDelete) {
  WriteHostFile(volume_ + "/Domino/Data/a.nsf", "version 1");
  WriteHostFile(volume_ + "/Domino/Data/sub/b.nsf", "bee");
  fs::create_directories(volume_ + "/Domino/empty");
  fs::create_symlink("Data/a.nsf", volume_ + "/Domino/link");
  ::chmod((volume_ + "/Domino/Data/sub/b.nsf").c_str(), 0640);
  const auto mtime = fs::last_write_time(volume_ + "/Domino/Data/a.nsf");
  const std::vector<std::string> expected = Listing(volume_);
  FILETIME before;
  platform::GetSystemTimeAsFileTime(before);
  ASSERT_EQ(Create(u"first"), S_OK);
  ASSERT_EQ(Create(u"Second", u"d"), S_OK);  // drive letters in either case
  std::vector<std::uint64_t> times, again;
  ASSERT_EQ(List(&times), (Names{u"Second", u"first"}));  // newest first, UTC FILETIMEs
  EXPECT_GE(times[1], FileTimeToU64(before));
  EXPECT_GT(times[0], times[1]);
  // The same name in other letters is the same snapshot: refused, both kept.
  EXPECT_EQ(Create(u"SECOND"), kAlreadyExists);
  EXPECT_EQ(service_->RenameSnapShot(u"D", u"FIRST", u"second"), kAlreadyExists);
  EXPECT_EQ(service_->RenameSnapShot(u"D", u"missing", u"x"), kNotFound);
  // Renamed from any case, also to other letters only, keeping its time.
  EXPECT_EQ(service_->RenameSnapShot(u"D", u"FIRST", u"dominosnap__H__srv__2-3-2003_9.5.7"), S_OK);
  EXPECT_EQ(service_->RenameSnapShot(u"D", u"dominosnap__h__srv__2-3-2003_9.5.7", u"Dated"), S_OK);
  EXPECT_EQ(List(&again), (Names{u"Second", u"Dated"}));
  EXPECT_EQ(again, times);
  // Later changes: a file rewritten, a directory added, a file removed.
  WriteHostFile(volume_ + "/Domino/Data/a.nsf", "version 2, longer than before");
  WriteHostFile(volume_ + "/Domino/newdir/deep/x.nsf", "later dir");
  fs::remove(volume_ + "/Domino/Data/sub/b.nsf");
  // ark's own interface shows the snapshot's tree under a Windows path of the drive map.
  std::unique_ptr<ark::snapshot::ISnapshotFiles> files;
  ASSERT_EQ(platform::QueryInterface(*service_, ark::snapshot::IID_ISnapshotFiles, files), S_OK);
  std::u16string root;
  ASSERT_EQ(files->GetSnapshotRoot(u"d", u"DATED", root), S_OK);
  std::string rootDir;
  ASSERT_EQ(platform::ToHostPath(platform::WideToAnsi(root), rootDir), ERROR_SUCCESS);
  EXPECT_EQ(Listing(rootDir), expected);
  ASSERT_EQ(service_->RestoreSnapShot(u"d", u"DATED"), S_OK);
  EXPECT_EQ(Listing(volume_), expected);
  EXPECT_EQ(fs::last_write_time(volume_ + "/Domino/Data/a.nsf"), mtime);
  EXPECT_EQ(fs::status(volume_ + "/Domino/Data/sub/b.nsf").permissions(), fs::perms(0640));
  EXPECT_FALSE(fs::exists(base_ + "/volumes/.ark-restore-D"));  // nothing staged is left over
  EXPECT_TRUE(GetParam().backend != Backend::Btrfs || snapshotsvc::IsBtrfsSubvolume(volume_));

  std::uint8_t flag = 0;
  EXPECT_EQ(service_->DeleteSnapShot(u"D", u"dated", &flag), S_OK);
  EXPECT_EQ(service_->DeleteSnapShot(u"D", u"dated", &flag), kNotFound);
  EXPECT_EQ(service_->DeleteSnapShot(u"D", u"second", nullptr), S_OK);
  EXPECT_TRUE(List().empty());
  // Deleted snapshots leave nothing behind in the store, and the volume as it was.
  EXPECT_TRUE(NoWorkLeft());
  EXPECT_TRUE(fs::is_empty(store_ + "/snapshots"));
  EXPECT_EQ(Listing(volume_), expected);
}

// Refused calls and volumes, and failures injected by FailOn, change nothing.
TEST_P(BackendTest, BadInputsAndInjectedFailuresChangeNothing) {
  WriteHostFile(volume_ + "/a.nsf", "keep");
  ASSERT_EQ(Create(u"good"), S_OK);
  const std::vector<std::string> volumeBefore = Listing(volume_);
  EXPECT_EQ(service_->CreateSnapShot(ark::snapshot::SnapshotDriveSet{}, u"n1"), E_INVALIDARG);
  EXPECT_EQ(service_->RestoreSnapShot(u"D", u"unknown"), kNotFound);
  // Two drives where one is missing: all or nothing.
  ark::snapshot::SnapshotDriveSet both = Drives(u"D");
  both.drives.push_back(ark::snapshot::SNAPSHOT_DRIVE_INFO{u"Q", 1});
  EXPECT_EQ(service_->CreateSnapShot(both, u"n3"), kPathNotFound);

  // The calls named in FailOn fail (the registry value is the system tests'), the others work.
  ::setenv(snapshotsvc::kFailOnEnvironment, "Restore,listdisks", 1);
  std::vector<ark::snapshot::DiskInfo> disks;
  EXPECT_EQ(service_->RestoreSnapShot(u"D", u"good"), E_FAIL);
  EXPECT_EQ(snapshotsvc::DiskServiceImpl().ListDisks(disks), E_FAIL);
  EXPECT_EQ(List(), Names{u"good"});
  ::unsetenv(snapshotsvc::kFailOnEnvironment);

  EXPECT_EQ(Listing(volume_), volumeBefore);
  EXPECT_TRUE(NoWorkLeft());

  // PrepareVolume refuses a directory off btrfs (creating nothing) or not a subvolume,
  // CloneTree an existing target; on btrfs a clone is made of reflinks.
  const bool btrfs = snapshotsvc::IsOnBtrfs(base_);
  const std::string plain = base_ + "/plain";
  if (btrfs) fs::create_directories(plain);
  std::string error;
  EXPECT_FALSE(snapshotsvc::PrepareVolume(Backend::Btrfs, plain, &error));
  EXPECT_EQ(fs::exists(plain), btrfs);
  EXPECT_TRUE(!btrfs || error.find("not a btrfs subvolume") != std::string::npos) << error;
  EXPECT_EQ(snapshotsvc::CloneTree(base_, volume_), kAlreadyExists);
  snapshotsvc::CloneStats stats;
  ASSERT_EQ(snapshotsvc::CloneTree(volume_, base_ + "/clone", &stats), S_OK);
  EXPECT_TRUE(!btrfs || stats.reflinked == 1u) << stats.reflinked;

  // The dir backend's store: refused inside the volume (nothing written there), honoured elsewhere.
  if (GetParam().backend != Backend::Dir) return;
  platform::RegSetString(snapshotsvc::kConfigKey, "SnapshotStore", volume_ + "/snaps");
  EXPECT_EQ(Create(u"self"), E_INVALIDARG);
  EXPECT_EQ(Listing(volume_), volumeBefore);
  platform::RegSetString(snapshotsvc::kConfigKey, "SnapshotStore", base_ + "/elsewhere/");
  EXPECT_EQ(Create(u"away"), S_OK);
  EXPECT_EQ(ReadHostFile(base_ + "/elsewhere/D/snapshots/away/data/a.nsf"), "keep");
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
  if (GetParam().backend == Backend::Btrfs) {
    ASSERT_EQ(btrfs_util_create_snapshot(volume_.c_str(), (store_ + "/work/tmp-crashed/data").c_str(),
                                         BTRFS_UTIL_CREATE_SNAPSHOT_READ_ONLY, nullptr, nullptr),
              BTRFS_UTIL_OK);
  } else {
    WriteHostFile(store_ + "/work/tmp-crashed/data/a.nsf", "half");
  }
  WriteHostFile(store_ + "/snapshots/damaged/snapshot.meta", "ark-snapshot 1\nName=damaged\n");
  WriteHostFile(base_ + "/volumes/.ark-restore-D/a.nsf", "staged");
  // A swap by two renames cut short after the copy took the drive's place.
  WriteHostFile(base_ + "/volumes/.ark-old-D/a.nsf", "old tree");

  EXPECT_EQ(List(), Names{u"real"});
  ASSERT_EQ(Create(u"next"), S_OK);
  EXPECT_TRUE(NoWorkLeft());
  EXPECT_FALSE(fs::exists(base_ + "/volumes/.ark-restore-D"));
  EXPECT_FALSE(fs::exists(base_ + "/volumes/.ark-old-D"));
  EXPECT_EQ(ReadHostFile(volume_ + "/a.nsf"), "data");
  EXPECT_EQ(List(), (Names{u"next", u"real"}));
  // The damaged folder is not ours to remove, and blocks only its own name.
  EXPECT_EQ(Create(u"damaged"), kAlreadyExists);
}

INSTANTIATE_TEST_SUITE_P(Backends, BackendTest,
                         testing::Values(Flavor{"DirCopy", Backend::Dir, false}, Flavor{"DirReflink", Backend::Dir, true},
                                         Flavor{"Btrfs", Backend::Btrfs, true}),
                         [](const testing::TestParamInfo<Flavor>& info) { return std::string(info.param.name); });

// Drive D: a file system of its own mounted at its directory (an ext4
// image; a bind mount of a folder, or of a subvolume, of a btrfs image whose
// top folder holds the store, so that the staged copy shares extents): a
// revert stages the copy at the drive's root and moves the entries. Each row
// leaves the drive whole: the snapshot's tree, or its own as it was, and
// none of the restore's folders.
enum class Step { Revert, TooFull, MoveFails, KilledStaging, KilledSettingAside, KilledMovingIn };
enum class Disk { Ext4, Ext4BehindLink, BtrfsFolder, BtrfsSubvolume };
struct MountRow { const char* name; Disk disk; Step step; };
void PrintTo(const MountRow& row, std::ostream* os) { *os << row.name; }
const MountRow kMountRows[] = {
    {"Ext4ImmutableEntryFailsThenReverts", Disk::Ext4, Step::MoveFails},
    {"Ext4TooFullToStage", Disk::Ext4, Step::TooFull},
    {"BtrfsReflinksFitWhereACopyWouldNot", Disk::BtrfsFolder, Step::Revert},
    // The drive a subvolume of the store's file system (another st_dev):
    // its extents are shared all the same.
    {"BtrfsSubvolumeReflinksFit", Disk::BtrfsSubvolume, Step::Revert},
    // The drive's directory a link to the mount point: the link stays, the
    // revert happens on the file system it leads to.
    {"Ext4BehindALinkStaysMounted", Disk::Ext4BehindLink, Step::Revert},
    {"KilledWhileStaging", Disk::Ext4, Step::KilledStaging},
    {"KilledWhileSettingAside", Disk::Ext4, Step::KilledSettingAside},
    {"KilledWhileMovingIn", Disk::Ext4, Step::KilledMovingIn},
};
struct MountPointDrive : ComponentHost, testing::WithParamInterface<MountRow> {
  std::unique_ptr<Mount> bind_;
};

void SetImmutable(const std::string& path, bool on) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  int flags = 0;
  ASSERT_EQ(::ioctl(fd, FS_IOC_GETFLAGS, &flags), 0);
  flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
  EXPECT_EQ(::ioctl(fd, FS_IOC_SETFLAGS, &flags), 0);
  ::close(fd);
}

TEST_P(MountPointDrive, RevertIsWholeOrLeavesTheDriveAsItWas) {
  const MountRow& row = GetParam();
  const bool btrfs = row.disk == Disk::BtrfsFolder || row.disk == Disk::BtrfsSubvolume;
  const bool linked = row.disk == Disk::Ext4BehindLink;
  const std::string volume = tmp_ + "/vols/volumes/D", image = tmp_ + "/mnt";
  const std::string ext4At = linked ? tmp_ + "/vols/volumes/mounted" : volume;
  std::string why;
  mount_ = btrfs ? Mount::Btrfs(tmp_ + "/d.img", image, 300, &why) : Mount::Ext4(tmp_ + "/d.img", ext4At, 32, &why);
  if (mount_ && linked) fs::create_directory_symlink(ext4At, volume);
  if (mount_ && btrfs) {
    if (row.disk == Disk::BtrfsSubvolume) {
      ASSERT_EQ(btrfs_util_create_subvolume((image + "/D").c_str(), 0, nullptr, nullptr), BTRFS_UTIL_OK);
    } else {
      fs::create_directories(image + "/D");
    }
    bind_ = Mount::Bind(image + "/D", volume, &why);
  }
  if (!mount_ || (btrfs && !bind_)) GTEST_SKIP() << "mount-point drive tests skipped: " << why;
  auto service = OpenVolumeD(Backend::Dir, volume);
  ASSERT_NE(service, nullptr);
  if (btrfs) platform::RegSetString(snapshotsvc::kConfigKey, "SnapshotStore", image + "/store");
  const std::size_t big = (btrfs ? 48 : 6) << 20;
  WriteHostFile(volume + "/Domino/Data/a.nsf", "a at the snapshot");
  WriteHostFile(volume + "/Domino/Data/sub/b.nsf", "b at the snapshot");
  WriteHostFile(volume + "/Domino/big.nsf", std::string(big, 'B'));
  WriteHostFile(volume + "/zz.nsf", "last in name order");
  fs::create_directories(volume + "/Domino/empty");
  fs::create_symlink("Data/a.nsf", volume + "/Domino/link");
  const std::vector<std::string> snapshot = Listing(volume);
  ASSERT_EQ(service->CreateSnapShot(Drives(u"D"), u"s1"), S_OK);
  WriteHostFile(volume + "/Domino/Data/a.nsf", "a changed");
  fs::remove(volume + "/Domino/Data/sub/b.nsf");
  WriteHostFile(volume + "/Domino/new/c.nsf", "added");
  WriteHostFile(volume + "/added.nsf", "added");
  const auto restoreFolders = [&] {
    std::string found;
    for (const auto& entry : fs::directory_iterator(volume)) {
      if (entry.path().filename().string().rfind(".ark-", 0) == 0) found += entry.path().filename().string() + " ";
    }
    return found;
  };
  const std::string store = btrfs ? image + "/store/D" : tmp_ + "/vols/volumes/.snapshots/D";
  const std::string data = store + "/snapshots/s1/data";
  const auto plant = [&](const std::string& folder, const std::vector<std::string>& names, const std::string& from) {
    fs::create_directories(volume + "/" + folder);
    for (const std::string& name : names) fs::rename(from + "/" + name, volume + "/" + folder + "/" + name);
  };

  switch (row.step) {
    case Step::Revert: {  // on btrfs a copy would not fit, reflinks do
      if (btrfs) mount_->LeaveFree(big / 2);  // beside the drive, on its file system
      break;
    }
    case Step::TooFull: {
      mount_->LeaveFree(big / 2);
      const std::vector<std::string> before = Listing(volume);
      const std::uint64_t freeBefore = fs::space(volume).available;
      std::string stale;
      platform::TakeErrorDescription(stale);
      EXPECT_EQ(service->RestoreSnapShot(u"D", u"s1"), HRESULT_FROM_WIN32(ERROR_DISK_FULL));
      std::string text;
      ASSERT_TRUE(platform::TakeErrorDescription(text));
      std::smatch m;
      ASSERT_TRUE(std::regex_search(text, m, std::regex("drive D: needs ([0-9.]+) MB and ([0-9.]+) MB is free"))) << text;
      EXPECT_GE(std::stod(m[1]), 6.0) << text;
      EXPECT_NEAR(std::stod(m[2]), double(freeBefore) / 1048576, 0.1) << text;
      EXPECT_TRUE(Listing(volume) == before) << "the drive differs";
      EXPECT_EQ(fs::space(volume).available, freeBefore);
      EXPECT_EQ(restoreFolders(), "");
      fs::remove(volume + "/.filler");
      break;
    }
    case Step::MoveFails: {  // moved in name order: every other entry first
      const std::vector<std::string> before = Listing(volume);
      SetImmutable(volume + "/zz.nsf", true);
      EXPECT_EQ(service->RestoreSnapShot(u"D", u"s1"), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
      SetImmutable(volume + "/zz.nsf", false);
      EXPECT_TRUE(Listing(volume) == before) << "the drive differs";
      EXPECT_EQ(restoreFolders(), "");
      break;
    }
    case Step::KilledStaging: {  // a half copy; the drive untouched
      const std::vector<std::string> before = Listing(volume);
      WriteHostFile(volume + "/.ark-restore-/Domino/Data/a.nsf", "half");
      ASSERT_EQ(service->CreateSnapShot(Drives(u"D"), u"s2"), S_OK);
      EXPECT_TRUE(Listing(volume) == before) << "the drive differs";
      EXPECT_TRUE(Listing(store + "/snapshots/s2/data") == before) << "the new snapshot differs";
      break;
    }
    case Step::KilledSettingAside: {  // the copy whole, part of the drive set aside: put back
      const std::vector<std::string> before = Listing(volume);
      ASSERT_EQ(snapshotsvc::CloneTree(data, volume + "/.ark-restore-"), S_OK);
      plant(".ark-old-", {"Domino", "added.nsf"}, volume);
      ASSERT_EQ(service->CreateSnapShot(Drives(u"D"), u"s2"), S_OK);
      EXPECT_TRUE(Listing(volume) == before) << "the drive differs";
      EXPECT_TRUE(Listing(store + "/snapshots/s2/data") == before) << "the new snapshot differs";
      break;
    }
    case Step::KilledMovingIn: {  // the drive wholly set aside, the copy half moved in: finished
      ASSERT_EQ(snapshotsvc::CloneTree(data, volume + "/.ark-incoming-"), S_OK);
      plant(".ark-old-", {"Domino", "added.nsf", "lost+found", "zz.nsf"}, volume);
      plant("", {"Domino"}, volume + "/.ark-incoming-");
      ASSERT_EQ(service->CreateSnapShot(Drives(u"D"), u"s2"), S_OK);
      EXPECT_TRUE(Listing(volume) == snapshot) << "the drive differs";
      EXPECT_TRUE(Listing(store + "/snapshots/s2/data") == snapshot) << "the new snapshot differs";
      break;
    }
  }
  EXPECT_EQ(restoreFolders(), "");
  ASSERT_EQ(service->RestoreSnapShot(u"D", u"s1"), S_OK);
  EXPECT_TRUE(Listing(volume) == snapshot) << "the drive differs";
  EXPECT_TRUE(Listing(ext4At) == snapshot) << "the drive's file system differs";
  EXPECT_EQ(fs::is_symlink(volume), linked);
  EXPECT_EQ(restoreFolders(), "");
  EXPECT_FALSE(fs::exists(tmp_ + "/vols/volumes/.ark-restore-D") || fs::exists(tmp_ + "/vols/volumes/.ark-old-D"));
}
INSTANTIATE_TEST_SUITE_P(Rows, MountPointDrive, testing::ValuesIn(kMountRows),
                         [](const testing::TestParamInfo<MountRow>& info) { return std::string(info.param.name); });

TEST_F(ComponentTest, FullDiskFailsCreateAndRestoreWithoutLosingAnything) {
  std::string why;
  const std::string small = tmp_ + "/small", volume = small + "/volumes/D";
  mount_ = Mount::Tmpfs(small, 6144, &why);
  if (!mount_) GTEST_SKIP() << "full-disk test skipped: " << why;
  auto service = OpenVolumeD(Backend::Dir, volume);
  ASSERT_NE(service, nullptr);
  WriteHostFile(volume + "/a.nsf", std::string(1536 * 1024, 'a'));
  ASSERT_EQ(service->CreateSnapShot(Drives(u"D"), u"fits"), S_OK);
  WriteHostFile(volume + "/later.nsf", std::string(2900 * 1024, 'l'));
  const std::vector<std::string> volumeBefore = Listing(volume);
  const std::uint64_t freeBefore = fs::space(small).available;

  // The copy of a second snapshot does not fit: no snapshot, space given back.
  EXPECT_EQ(service->CreateSnapShot(Drives(u"D"), u"too_big"), HRESULT_FROM_WIN32(ERROR_DISK_FULL));
  EXPECT_EQ(ListNames(*service, u"D"), Names{u"fits"});
  EXPECT_TRUE(fs::is_empty(small + "/volumes/.snapshots/D/work"));
  EXPECT_EQ(fs::space(small).available, freeBefore);
  // The restored tree cannot be staged: the volume stays as it was.
  EXPECT_EQ(service->RestoreSnapShot(u"D", u"fits"), HRESULT_FROM_WIN32(ERROR_DISK_FULL));
  EXPECT_EQ(Listing(volume), volumeBefore);
  EXPECT_FALSE(fs::exists(small + "/volumes/.ark-restore-D"));
  EXPECT_EQ(fs::space(small).available, freeBefore);
  // Once there is room again both work.
  fs::remove(volume + "/later.nsf");
  EXPECT_EQ(service->RestoreSnapShot(u"D", u"fits"), S_OK);
  EXPECT_EQ(ReadHostFile(volume + "/a.nsf"), std::string(1536 * 1024, 'a'));
}

}  // namespace
}  // namespace snaptest
