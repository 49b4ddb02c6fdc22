// The host of the POSIX layer: drive map, letter case, root, module path,
// other hosts' processes, TZ, and UTF-8 as the ANSI code page.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/host.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/text.h"
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
  EXPECT_EQ(Host("d:/Domino//Data\\\\x.nsf\\"), d + "/Domino/Data/x.nsf");
  EXPECT_EQ(Host("E:\\x"), base + "/volE/x");
  // C: is the host root itself (DIR/Windows/ark.ini is every test's); a
  // mapping of C: replaces it.
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

// ARK_ROOT names the root of every child of the tests; without it the root
// is the working directory.
TEST(HostPosix, RootIsTheWorkingDirectoryWithoutTheEnvironment) {
  TempHostRoot root;
  const std::string sub = root.path().string() + "/sub";
  fs::create_directories(sub);
  EXPECT_EQ(ChildProcess(ProgramBesideTest("test_helper"), {"root"}, {"ARK_ROOT="}, sub).ReadLine(), sub);
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
  EXPECT_EQ(GetComputerName(), hostName);  // the registry's name is every host fixture's
}

// Several simulated hosts share one machine: a process that declares
// another host root (here its own folder, relative to it) does not count.
const struct {
  std::vector<std::string> args, env;
  bool counts;
} kDeclared[] = {{{"sleep", "30"}, {"ARK_ROOT=."}, false},
                 {{"sleep", "30", "--root", "."}, {}, false},  // the option wins over the inherited ARK_ROOT
                 {{"sleep", "30", "--root", "../bin/.."}, {}, true},
                 {{"sleep", "30"}, {"ARK_ROOT="}, true}};  // undeclared

class ProcessesPosix : public ::testing::TestWithParam<std::size_t> {};

TEST_P(ProcessesPosix, OnlyTheProcessesOfTheirOwnHostCount) {
  const auto& row = kDeclared[GetParam()];
  TempHostRoot root;
  const std::string unique = "Probe" + std::to_string(CurrentProcessId());
  const fs::path program = root.path() / "bin" / (unique + ".EXE");
  fs::create_directories(program.parent_path());
  fs::copy_file(ProgramBesideTest("test_helper"), program);
  ChildProcess child(program, row.args, row.env, program.parent_path());
  ASSERT_EQ(child.ReadLine(), "sleeping");
  EXPECT_EQ(IsProcessRunning({unique}), row.counts);
}
INSTANTIATE_TEST_SUITE_P(Rows, ProcessesPosix, ::testing::Range<std::size_t>(0, std::size(kDeclared)));

// Noon UTC in summer is 8:00 (UTC-4), in winter 7:00 (UTC-5); and back.
const std::pair<WORD, WORD> kMonthAndLocalHour[] = {{7, 8}, {1, 7}};
class ClockPosix : public ::testing::TestWithParam<std::size_t> {};

TEST_P(ClockPosix, LocalTimeHonoursTzAndDaylightSaving) {
  TempHostRoot eastern(HostOptions{"D", "", "", "", "EST5EDT,M3.2.0,M11.1.0"});
  const auto [month, localHour] = kMonthAndLocalHour[GetParam()];
  FILETIME utc, local, again;
  SYSTEMTIME st;
  ASSERT_TRUE(SystemTimeToFileTime(SYSTEMTIME{2021, month, 0, 1, 12, 0, 0, 250}, utc));
  ASSERT_TRUE(FileTimeToLocalFileTime(utc, local));
  ASSERT_TRUE(FileTimeToSystemTime(local, st));
  EXPECT_EQ(st.wHour, localHour);
  EXPECT_EQ(st.wMilliseconds, 250);
  ASSERT_TRUE(LocalFileTimeToFileTime(local, again));
  EXPECT_EQ(FileTimeToU64(again), FileTimeToU64(utc));
}
INSTANTIATE_TEST_SUITE_P(Rows, ClockPosix, ::testing::Range<std::size_t>(0, std::size(kMonthAndLocalHour)));

TEST(TextPosix, Utf8AndUtf16BothWays) {
  const std::string text = "a\xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80";  // a ü € 😀
  const std::u16string wide = AnsiToWide(text);
  EXPECT_EQ(wide, (std::u16string{u'a', 0x00FC, 0x20AC, 0xD83D, 0xDE00}));
  EXPECT_EQ(WideToAnsi(wide), text);

  // Invalid input becomes U+FFFD and never swallows the valid text after it.
  EXPECT_EQ(AnsiToWide("\x80z"), (std::u16string{0xFFFD, u'z'}));
  EXPECT_EQ(AnsiToWide("\xE2\x82z"), (std::u16string{0xFFFD, u'z'}));      // truncated
  EXPECT_EQ(AnsiToWide("\xC0\xAFz"), (std::u16string{0xFFFD, 0xFFFD, u'z'}));  // overlong
  EXPECT_EQ(AnsiToWide("\xED\xA0\x80"), (std::u16string{0xFFFD, 0xFFFD, 0xFFFD}));  // surrogate
  EXPECT_EQ(AnsiToWide("\xF5\x80"), (std::u16string{0xFFFD, 0xFFFD}));
  EXPECT_EQ(AnsiToWide("\xE2\x82"), (std::u16string{0xFFFD}));  // cut at the end
  EXPECT_EQ(WideToAnsi(std::u16string{0xD800, u'x'}), "\xEF\xBF\xBDx");
  EXPECT_EQ(WideToAnsi(std::u16string{0xDC00}), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace platform
