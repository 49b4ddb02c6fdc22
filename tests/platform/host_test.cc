// Windows paths: what is refused everywhere, and what the machine reports.
#include "platform/host.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include "tests/support/child_process.h"
#include "tests/support/temp_host.h"

namespace platform {
namespace {

TEST(Host, UnsafeOrDrivelessPathsAreRefusedUntouched) {
  TempHostRoot root;
  std::string host;
  EXPECT_EQ(ToHostPath("D:\\Domino\\Data\\x.nsf", host), ERROR_SUCCESS);
  host = "unchanged";
  for (const std::string path : {"Q:\\x", "\\Domino\\x", "\\\\server\\share\\x", "", "1:\\x"}) {
    EXPECT_EQ(ToHostPath(path, host), ERROR_PATH_NOT_FOUND) << path;
  }
  for (const std::string& path : std::vector<std::string>{"D:\\Data\\..\\..\\etc\\passwd", "D:\\..", "D:/./x",
                                                         "D:\\a*b", "D:\\a:b", std::string("D:\\a\0b", 6)}) {
    EXPECT_EQ(ToHostPath(path, host), ERROR_INVALID_NAME) << path;
  }
  EXPECT_EQ(host, "unchanged");
  EXPECT_EQ(DriveHostDirectory('Q'), "");
  EXPECT_NE(DriveHostDirectory('d'), "");
}

TEST(Host, ModuleWindowsDirectoryAndComputerName) {
  const std::string module = GetModuleFileName();
  const std::string self = ProgramBesideTest("platform_tests");
  EXPECT_TRUE(module.size() > 3 && module[1] == ':' && module[2] == '\\') << module;
  EXPECT_EQ(module.substr(module.rfind('\\') + 1), self.substr(self.find_last_of("\\/") + 1));
  const std::string windows = GetWindowsDirectory();
  EXPECT_TRUE(windows.size() > 3 && windows.substr(1, 2) == ":\\" && windows.back() != '\\') << windows;
  EXPECT_FALSE(GetComputerName().empty());
}

}  // namespace
}  // namespace platform
