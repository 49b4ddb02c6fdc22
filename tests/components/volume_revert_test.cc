// The snapshot component on Windows reverts a drive whole or not at all: an
// entry of the drive that cannot be moved (held open without sharing its
// deletion) fails the restore and leaves every file of the drive as it was;
// once it is closed the drive becomes the snapshot's tree.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "platform/files.h"
#include "snapshot/snapshot_service.h"
#include "snapshotsvc/configure.h"
#include "snapshotsvc/snapshot_service_impl.h"
#include "tests/support/temp_host.h"

namespace {

namespace fs = std::filesystem;

TEST(SnapshotComponentOnWindows, RestoreIsWholeOrLeavesTheDriveAsItWas) {
  TempHostRoot host;
  const fs::path d = host.D();
  std::string error;
  ASSERT_TRUE(snapshotsvc::InstallComponent(snapshotsvc::Backend::Dir,
                                            {{"vol_data", "disk1", "\\\\ARKSTORE\\vol_data\\disk1", {'D'}}},
                                            (host.path() / "snapshots").string(), false, &error))
      << error;
  WriteHostFile(d / "Domino" / "a.nsf", "a at the snapshot");
  WriteHostFile(d / "b.nsf", "b at the snapshot");
  snapshotsvc::SnapshotServiceImpl component;
  ark::snapshot::SnapshotDriveSet drives;
  drives.drives.push_back(ark::snapshot::SNAPSHOT_DRIVE_INFO{u"D", 1});
  ASSERT_EQ(component.CreateSnapShot(drives, u"snap1"), S_OK);

  WriteHostFile(d / "Domino" / "a.nsf", "a changed");
  fs::remove(d / "b.nsf");
  WriteHostFile(d / "new.nsf", "new");
  const auto expectDrive = [&](const char* a, const char* b, const char* added) {
    EXPECT_EQ(ReadHostFile(d / "Domino" / "a.nsf"), a);
    EXPECT_EQ(fs::exists(d / "b.nsf") ? ReadHostFile(d / "b.nsf") : "(none)", b);
    EXPECT_EQ(fs::exists(d / "new.nsf") ? ReadHostFile(d / "new.nsf") : "(none)", added);
    for (const fs::directory_entry& entry : fs::directory_iterator(d)) {
      EXPECT_EQ(entry.path().filename().string().rfind(".ark-", 0), std::string::npos) << entry.path();
    }
  };
  {
    std::ifstream held(d / "new.nsf");  // the C runtime shares reading and writing, not deletion
    ASSERT_TRUE(held.is_open());
    EXPECT_LT(component.RestoreSnapShot(u"D", u"snap1"), 0);
    expectDrive("a changed", "(none)", "new");
  }
  {
    // The staged copy must be on the disk before the drive's own entries
    // are set aside: a flush that fails leaves the drive as it was.
    platform::FlushOverride failing([](const std::string& path) {
      return path.find(".ark-") != std::string::npos ? DWORD(ERROR_WRITE_FAULT) : DWORD(ERROR_SUCCESS);
    });
    EXPECT_LT(component.RestoreSnapShot(u"D", u"snap1"), 0);
    expectDrive("a changed", "(none)", "new");
  }
  std::vector<std::string> flushed;
  {
    platform::FlushOverride recording([&flushed](const std::string& path) {
      flushed.push_back(path);
      return DWORD(ERROR_SUCCESS);
    });
    EXPECT_EQ(component.RestoreSnapShot(u"D", u"snap1"), S_OK);
  }
  expectDrive("a at the snapshot", "b at the snapshot", "(none)");
  const auto stagedFile = [&](const char* name) {
    return std::any_of(flushed.begin(), flushed.end(), [name](const std::string& path) {
      return path.find(".ark-") != std::string::npos && path.ends_with(name);
    });
  };
  EXPECT_TRUE(stagedFile("a.nsf") && stagedFile("b.nsf"));
}

}  // namespace
