// The host root of the POSIX layer: the drive map, names found whatever
// their case, the root from the environment, the module's drive path.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>
#include <limits.h>
#include <unistd.h>

#include "platform/host.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_host.h"

namespace fs = std::filesystem;

namespace platform {
namespace {

constexpr char kDriveMap[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\DOS Devices";

std::string MakeDir(const TempHostRoot& root, const std::string& relative) {
  fs::create_directories(root.path() / relative);
  return (root.path() / relative).string();
}

TEST(HostPosix, DriveMapTurnsWindowsPathsIntoHostPaths) {
  TempHostRoot root;
  const std::string d = MakeDir(root, "volD");
  const std::string base = root.path().string();
  ASSERT_EQ(RegSetString(kDriveMap, "D:", d + "/"), ERROR_SUCCESS);
  ASSERT_EQ(RegSetString(kDriveMap, "E:", "volE"), ERROR_SUCCESS);  // relative to the root

  std::string host;
  EXPECT_EQ(ToHostPath("D:\\Domino\\Data\\Mail\\Jo.nsf", host), ERROR_SUCCESS);
  EXPECT_EQ(host, d + "/Domino/Data/Mail/Jo.nsf");
  EXPECT_EQ(ToHostPath("d:/Domino//Data\\\\x.nsf\\", host), ERROR_SUCCESS);
  EXPECT_EQ(host, d + "/Domino/Data/x.nsf");
  EXPECT_EQ(ToHostPath("D:\\", host), ERROR_SUCCESS);
  EXPECT_EQ(host, d);
  EXPECT_EQ(ToHostPath("E:\\x", host), ERROR_SUCCESS);
  EXPECT_EQ(host, base + "/volE/x");
  // C: is the host root itself, so C:\Windows is DIR/Windows.
  EXPECT_EQ(GetWindowsDirectory(), "C:\\Windows");
  EXPECT_EQ(ToHostPath(GetWindowsDirectory() + "\\ark.ini", host), ERROR_SUCCESS);
  EXPECT_EQ(host, base + "/Windows/ark.ini");
  EXPECT_EQ(DriveHostDirectory('c'), base);

  // A mapping of C: replaces the host root.
  const std::string c = MakeDir(root, "volC");
  ASSERT_EQ(RegSetString(kDriveMap, "C:", c), ERROR_SUCCESS);
  EXPECT_EQ(ToHostPath("C:\\Windows", host), ERROR_SUCCESS);
  EXPECT_EQ(host, c + "/Windows");
}

// Names are found whatever their letter case, as on Windows; names that
// exist nowhere keep the case they were given.
TEST(HostPosix, PathsResolveIgnoringLetterCase) {
  TempHostRoot root;
  const std::string d = root.D().string();
  const std::string ledger = d + "/ArkLedger/srv1/dominosnap__HOST__SRV1__recent";
  fs::create_directories(ledger);
  std::string host;
  EXPECT_EQ(ToHostPath("D:\\ARKLEDGER\\SRV1\\DOMINOSNAP__HOST__SRV1__RECENT\\log_hint", host), ERROR_SUCCESS);
  EXPECT_EQ(host, ledger + "/log_hint");
  EXPECT_EQ(ToHostPath("D:\\arkledger\\Srv1\\New Folder\\X.DAT", host), ERROR_SUCCESS);
  EXPECT_EQ(host, d + "/ArkLedger/srv1/New Folder/X.DAT");
  // An exact match wins over a name that differs only in case.
  fs::create_directories(d + "/ArkLedger/SRV1");
  EXPECT_EQ(ToHostPath("D:\\ArkLedger\\SRV1", host), ERROR_SUCCESS);
  EXPECT_EQ(host, d + "/ArkLedger/SRV1");

  // A directory's listing is kept while the directory is unchanged: a name
  // created through the platform joins it, a name created otherwise is
  // found once the directory shows a change.
  EXPECT_EQ(ToHostPath("D:\\ArkLedger\\srv1\\Log.dat", host), ERROR_SUCCESS);
  EXPECT_EQ(host, d + "/ArkLedger/srv1/Log.dat");
  File created;
  ASSERT_EQ(created.Open("D:\\ArkLedger\\srv1\\LOG.DAT", File::Mode::CreateAlways), ERROR_SUCCESS);
  EXPECT_EQ(ToHostPath("D:\\ArkLedger\\srv1\\log.dat", host), ERROR_SUCCESS);
  EXPECT_EQ(host, d + "/ArkLedger/srv1/LOG.DAT");
  std::ofstream(d + "/ArkLedger/srv1/Other.dat") << "x";
  const struct timespec old[2] = {{1, 0}, {1, 0}};  // a change whatever the clock's grain
  ASSERT_EQ(::utimensat(AT_FDCWD, (d + "/ArkLedger/srv1").c_str(), old, 0), 0);
  EXPECT_EQ(ToHostPath("D:\\ArkLedger\\srv1\\OTHER.DAT", host), ERROR_SUCCESS);
  EXPECT_EQ(host, d + "/ArkLedger/srv1/Other.dat");
}

TEST(HostPosix, RootFromTheEnvironmentElseTheWorkingDirectory) {
  TempHostRoot root;
  const std::string sub = MakeDir(root, "sub");
  const std::string helper = ProgramBesideTest("test_helper");
  {
    ChildProcess child(helper, {"root"}, {"ARK_ROOT=" + root.path().string() + "/sub/"});
    EXPECT_EQ(child.ReadLine(), sub);
  }
  {
    ChildProcess child(helper, {"root"}, {"ARK_ROOT="}, sub);
    EXPECT_EQ(child.ReadLine(), sub);
  }
  SetHostRoot(root.path().string() + "/sub/../sub/");
  EXPECT_EQ(HostRoot(), sub);
}

TEST(HostPosix, ModuleFileNameAndComputerName) {
  TempHostRoot root;
  char exe[PATH_MAX] = {};
  ASSERT_GT(::readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
  const std::string exePath = exe;
  const std::string dir = exePath.substr(0, exePath.rfind('/'));
  const std::string name = exePath.substr(exePath.rfind('/') + 1);
  EXPECT_EQ(GetModuleFileName(), "C:\\Program Files\\ark\\" + name);
  // A drive that holds the executable's directory names it.
  ASSERT_EQ(RegSetString(kDriveMap, "F:", dir.substr(0, dir.rfind('/'))), ERROR_SUCCESS);
  ASSERT_EQ(RegSetString(kDriveMap, "G:", dir), ERROR_SUCCESS);
  EXPECT_EQ(GetModuleFileName(), "G:\\" + name);  // the most specific one

  char hostName[256] = {};
  ::gethostname(hostName, sizeof hostName - 1);
  EXPECT_EQ(GetComputerName(), hostName);
  ASSERT_EQ(RegSetString("SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName", "ComputerName", "HOST7"),
            ERROR_SUCCESS);
  EXPECT_EQ(GetComputerName(), "HOST7");
}

}  // namespace
}  // namespace platform
