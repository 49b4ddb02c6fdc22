// Host checks and file utilities on a temporary host root.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "domino/host_utils.h"
#include "tests/output/temp_host_root.h"
#include "tests/support/mock_domino_api.h"

namespace fs = std::filesystem;
using ::testing::_;
using ::testing::Invoke;
using ::testing::Return;

namespace {

void Touch(const fs::path& path, const std::string& text = "x") {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class HostUtilsTest : public ::testing::Test {
 protected:
  TempHostRoot root_{"hostutils"};
};

TEST_F(HostUtilsTest, DirectoryExistsTellsFoldersFromFiles) {
  fs::create_directories(root_.D() / "empty dir");
  Touch(root_.D() / "file.txt");
  EXPECT_EQ(DirectoryExists("D:\\empty dir"), 0);
  EXPECT_EQ(DirectoryExists("D:\\empty dir\\"), 0);
  EXPECT_EQ(DirectoryExists("D:\\"), 0);
  EXPECT_EQ(DirectoryExists("D:\\file.txt"), 1);
  EXPECT_EQ(DirectoryExists("D:\\missing"), 1);
  EXPECT_EQ(DirectoryExists("Q:\\unmapped"), 1);
  EXPECT_EQ(DirectoryExists(""), -1);
}

TEST_F(HostUtilsTest, CreateDirectoryTreeMakesEveryMissingLevel) {
  EXPECT_EQ(CreateDirectoryTree("D:\\a\\b c\\d"), 1);
  EXPECT_TRUE(fs::is_directory(root_.D() / "a" / "b c" / "d"));
  Touch(root_.D() / "a" / "b c" / "d" / "keep.txt", "kept");
  EXPECT_EQ(CreateDirectoryTree("D:\\a\\b c\\d\\"), 1);  // all exist: nothing changes
  EXPECT_EQ(Slurp(root_.D() / "a" / "b c" / "d" / "keep.txt"), "kept");
  EXPECT_EQ(CreateDirectoryTree("D:"), 1);
  EXPECT_EQ(CreateDirectoryTree("D:\\"), 1);
  EXPECT_EQ(CreateDirectoryTree(""), -1);

  // A file in the way, an unmapped drive and an over-long path fail.
  Touch(root_.D() / "plain");
  EXPECT_EQ(CreateDirectoryTree("D:\\plain\\sub"), 0);
  EXPECT_TRUE(fs::is_regular_file(root_.D() / "plain"));
  EXPECT_EQ(CreateDirectoryTree("Q:\\x\\y"), 0);
  const std::string longName(130, 'l');
  EXPECT_EQ(CreateDirectoryTree("D:\\long\\" + longName + "\\" + longName), 0);
  EXPECT_FALSE(fs::exists(root_.D() / "long")) << "nothing made for a path that cannot fit";
  EXPECT_EQ(CreateDirectoryTree("D:\\fits\\" + std::string(240, 'f')), 1);
}

TEST_F(HostUtilsTest, DeleteDirectoryTreeRemovesEverythingUnderIt) {
  Touch(root_.D() / "tree" / "a" / "b" / "f1", "1");
  Touch(root_.D() / "tree" / "f2", "2");
  Touch(root_.D() / "sibling" / "keep", "3");
  EXPECT_EQ(DeleteDirectoryTree("D:\\tree"), 0);
  EXPECT_FALSE(fs::exists(root_.D() / "tree"));
  EXPECT_TRUE(fs::exists(root_.D() / "sibling" / "keep"));
  EXPECT_NE(DeleteDirectoryTree("D:\\tree"), 0) << "a missing tree is an error";
  EXPECT_EQ(DeleteDirectoryTree(""), -1);
  // A whole drive is refused and keeps all it holds.
  EXPECT_NE(DeleteDirectoryTree("D:\\"), 0);
  EXPECT_NE(DeleteDirectoryTree("D:"), 0);
  EXPECT_TRUE(fs::exists(root_.D() / "sibling" / "keep"));
}

TEST_F(HostUtilsTest, CreateDominoDirectoryTranslatesThenCreates) {
  MockDominoApi api;
  EXPECT_CALL(api, TranslatePath(1, _, 0xFFFF, _, 256))
      .WillRepeatedly(Invoke([](WORD, const char* path, WORD, char* out, WORD size) {
        std::snprintf(out, size, "%s", path);
        return STATUS(0);
      }));
  EXPECT_FALSE(CreateDominoDirectory("D:\\logs"));
  EXPECT_TRUE(fs::is_directory(root_.D() / "logs"));
  EXPECT_FALSE(CreateDominoDirectory("D:\\logs")) << "already there counts as done";
  EXPECT_TRUE(CreateDominoDirectory("D:\\no\\parent"));
  EXPECT_FALSE(fs::exists(root_.D() / "no"));

  EXPECT_CALL(api, TranslatePath(1, _, 0xFFFF, _, 256)).WillOnce(Return(STATUS(0x0105)));
  EXPECT_TRUE(CreateDominoDirectory("D:\\untranslatable"));
  EXPECT_FALSE(fs::exists(root_.D() / "untranslatable"));
}

TEST_F(HostUtilsTest, CopyOneFileHonoursFailIfExists) {
  Touch(root_.D() / "src.txn", std::string(100000, 's'));
  Touch(root_.D() / "dst.txn", "old");
  EXPECT_FALSE(CopyOneFile("D:\\src.txn", "D:\\dst.txn", true));
  EXPECT_EQ(Slurp(root_.D() / "dst.txn"), "old");
  EXPECT_TRUE(CopyOneFile("D:\\src.txn", "D:\\dst.txn", false));
  EXPECT_EQ(Slurp(root_.D() / "dst.txn"), std::string(100000, 's'));
  EXPECT_FALSE(CopyOneFile("D:\\missing.txn", "D:\\new.txn", false));
  EXPECT_FALSE(fs::exists(root_.D() / "new.txn"));
}

TEST_F(HostUtilsTest, FreeSpaceOfMappedAndUnmappedDrives) {
  std::uint32_t mb = 12345;
  ASSERT_TRUE(GetFreeDiskMegabytes("D", mb));
  const auto space = fs::space(root_.D());
  const double expected = double(space.free >> 20);
  EXPECT_NEAR(double(mb), expected, 64 + expected * 0.01);
  EXPECT_TRUE(GetFreeDiskMegabytes("d:\\", mb));
  mb = 7;
  EXPECT_FALSE(GetFreeDiskMegabytes("Q", mb));
  EXPECT_FALSE(GetFreeDiskMegabytes("", mb));
  EXPECT_FALSE(GetFreeDiskMegabytes("1", mb));
  EXPECT_EQ(mb, 7u);
}

TEST(LocalTimeTextTest, MonthDayYearAndTwoDigitMilliseconds) {
  SYSTEMTIME t{2003, 3, 0, 2, 9, 5, 3, 7};
  EXPECT_EQ(LocalTimeText(t), "3/2/2003 09:05:03:07");
  t.wMilliseconds = 123;
  t.wHour = 23;
  EXPECT_EQ(LocalTimeText(t), "3/2/2003 23:05:03:123");
  EXPECT_TRUE(std::regex_match(LocalTimeText(),
                               std::regex(R"(\d{1,2}/\d{1,2}/\d{4} \d\d:\d\d:\d\d:\d{2,3})")));
}

TEST_F(HostUtilsTest, ServerProcessNamedInUpperCaseCounts) {
  // A copy of sleep named NSERVER stands in for the server process.
  const fs::path exe = root_.path() / "NSERVER";
  std::error_code error;
  fs::copy_file("/bin/sleep", exe, error);
  if (error) GTEST_SKIP() << "cannot copy /bin/sleep: " << error.message();
  fs::permissions(exe, fs::perms::owner_all);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::execl(exe.c_str(), "NSERVER", "30", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ASSERT_GT(pid, 0);
  bool seen = false;
  for (int i = 0; i < 200 && !seen; ++i) {
    seen = IsDominoRunning();
    if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  EXPECT_TRUE(seen);
}

}  // namespace
