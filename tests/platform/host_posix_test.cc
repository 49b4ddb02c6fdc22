// The host root of the POSIX layer: the drive map, names found whatever
// their case, the root from the environment, the module's drive path, and
// processes that belong to another host root.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/files.h"
#include "platform/host.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_host.h"

namespace fs = std::filesystem;

namespace platform {
namespace {

constexpr char kDriveMap[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\DOS Devices";

// The host path of a Windows path, or the error code.
std::string Host(const std::string& windows) {
  std::string host;
  const DWORD error = ToHostPath(windows, host);
  return error == ERROR_SUCCESS ? host : "error " + std::to_string(error);
}

TEST(HostPosix, DriveMapTurnsWindowsPathsIntoHostPaths) {
  TempHostRoot root;
  const std::string base = root.path().string();
  const std::string d = base + "/volD";
  fs::create_directories(d);
  ASSERT_EQ(RegSetString(kDriveMap, "D:", d + "/"), ERROR_SUCCESS);
  ASSERT_EQ(RegSetString(kDriveMap, "E:", "volE"), ERROR_SUCCESS);  // relative to the root
  EXPECT_EQ(Host("D:\\Domino\\Data\\Mail\\Jo.nsf"), d + "/Domino/Data/Mail/Jo.nsf");
  EXPECT_EQ(Host("d:/Domino//Data\\\\x.nsf\\"), d + "/Domino/Data/x.nsf");
  EXPECT_EQ(Host("D:\\"), d);
  EXPECT_EQ(Host("E:\\x"), base + "/volE/x");
  // C: is the host root itself, so C:\Windows is DIR/Windows.
  EXPECT_EQ(GetWindowsDirectory(), "C:\\Windows");
  EXPECT_EQ(Host(GetWindowsDirectory() + "\\ark.ini"), base + "/Windows/ark.ini");
  EXPECT_EQ(DriveHostDirectory('c'), base);
  // A mapping of C: replaces the host root.
  fs::create_directories(base + "/volC");
  ASSERT_EQ(RegSetString(kDriveMap, "C:", base + "/volC"), ERROR_SUCCESS);
  EXPECT_EQ(Host("C:\\Windows"), base + "/volC/Windows");
}

// Names are found whatever their letter case, as on Windows; names that
// exist nowhere keep the case they were given.
TEST(HostPosix, PathsResolveIgnoringLetterCase) {
  TempHostRoot root;
  const std::string srv1 = root.D().string() + "/ArkLedger/srv1";
  fs::create_directories(srv1 + "/dominosnap__HOST__SRV1__recent");
  EXPECT_EQ(Host("D:\\ARKLEDGER\\SRV1\\DOMINOSNAP__HOST__SRV1__RECENT\\log_hint"),
            srv1 + "/dominosnap__HOST__SRV1__recent/log_hint");
  EXPECT_EQ(Host("D:\\arkledger\\Srv1\\New Folder\\X.DAT"), srv1 + "/New Folder/X.DAT");
  // An exact match wins over a name that differs only in case.
  fs::create_directories(root.D() / "ArkLedger" / "SRV1");
  EXPECT_EQ(Host("D:\\ArkLedger\\SRV1"), root.D().string() + "/ArkLedger/SRV1");

  // A directory's listing is kept while the directory is unchanged: a name
  // created through the platform joins it, a name created otherwise is
  // found once the directory shows a change.
  EXPECT_EQ(Host("D:\\ArkLedger\\srv1\\Log.dat"), srv1 + "/Log.dat");
  File created;
  ASSERT_EQ(created.Open("D:\\ArkLedger\\srv1\\LOG.DAT", File::Mode::CreateAlways), ERROR_SUCCESS);
  EXPECT_EQ(Host("D:\\ArkLedger\\srv1\\log.dat"), srv1 + "/LOG.DAT");
  WriteHostFile(srv1 + "/Other.dat", "x");
  const struct timespec old[2] = {{1, 0}, {1, 0}};  // a change whatever the clock's grain
  ASSERT_EQ(::utimensat(AT_FDCWD, srv1.c_str(), old, 0), 0);
  EXPECT_EQ(Host("D:\\ArkLedger\\srv1\\OTHER.DAT"), srv1 + "/Other.dat");
}

TEST(HostPosix, RootFromTheEnvironmentElseTheWorkingDirectory) {
  TempHostRoot root;
  const std::string sub = root.path().string() + "/sub";
  fs::create_directories(sub);
  const std::string helper = ProgramBesideTest("test_helper");
  EXPECT_EQ(ChildProcess(helper, {"root"}, {"ARK_ROOT=" + sub + "/"}).ReadLine(), sub);
  EXPECT_EQ(ChildProcess(helper, {"root"}, {"ARK_ROOT="}, sub).ReadLine(), sub);
  SetHostRoot(sub + "/../sub/");
  EXPECT_EQ(HostRoot(), sub);
}

TEST(HostPosix, ModuleFileNameAndComputerName) {
  TempHostRoot root;
  char exe[PATH_MAX] = {};
  ASSERT_GT(::readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
  const fs::path exePath = exe;
  const std::string name = exePath.filename().string();
  EXPECT_EQ(GetModuleFileName(), "C:\\Program Files\\ark\\" + name);
  // A drive that holds the executable's directory names it: the most specific one.
  ASSERT_EQ(RegSetString(kDriveMap, "F:", exePath.parent_path().parent_path().string()), ERROR_SUCCESS);
  ASSERT_EQ(RegSetString(kDriveMap, "G:", exePath.parent_path().string()), ERROR_SUCCESS);
  EXPECT_EQ(GetModuleFileName(), "G:\\" + name);

  char hostName[256] = {};
  ::gethostname(hostName, sizeof hostName - 1);
  EXPECT_EQ(GetComputerName(), hostName);
  ASSERT_EQ(RegSetString("SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName", "ComputerName", "HOST7"),
            ERROR_SUCCESS);
  EXPECT_EQ(GetComputerName(), "HOST7");
}

// Several simulated hosts share one machine: a process that declares
// another host root does not count.
TEST(ProcessesPosix, OnlyTheProcessesOfTheirOwnHostCount) {
  TempHostRoot root;
  TempHostRoot other;
  SetHostRoot(root.path().string());
  const std::string unique = "Probe" + std::to_string(CurrentProcessId());
  const fs::path program = root.path() / "bin" / (unique + ".EXE");
  fs::create_directories(program.parent_path());
  fs::copy_file(ProgramBesideTest("test_helper"), program);
  const struct {
    std::vector<std::string> args, env;
    bool counts;
  } kRows[] = {{{"sleep", "30"}, {"ARK_ROOT=" + other.path().string()}, false},
               {{"sleep", "30", "--root", other.path().string()}, {}, false},
               {{"sleep", "30", "--root", root.path().string() + "/bin/.."}, {}, true},
               {{"sleep", "30"}, {"ARK_ROOT="}, true}};  // undeclared
  for (const auto& row : kRows) {
    ChildProcess child(program, row.args, row.env);
    ASSERT_EQ(child.ReadLine(), "sleeping");
    EXPECT_EQ(IsProcessRunning({unique}), row.counts) << row.args.back();
  }
}

}  // namespace
}  // namespace platform
