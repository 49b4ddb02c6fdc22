// Host checks and file utilities on a temporary host root.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>

#include "domino/host_utils.h"
#include "tests/output/test_helpers.h"
#include "tests/support/child_process.h"
#include "tests/support/mock_domino_api.h"

namespace fs = std::filesystem;
using ::testing::_;
using ::testing::Invoke;
using ::testing::Return;

namespace {

TEST(HostUtilsTest, DirectoriesExistAreMadeAndDeleted) {
  TempHostRoot root;
  WriteHostFile(root.D() / "file.txt", "x");
  EXPECT_EQ(DirectoryExists("D:\\"), 0);
  EXPECT_EQ(DirectoryExists("D:\\file.txt"), 1);
  EXPECT_EQ(DirectoryExists("Q:\\unmapped"), 1);
  EXPECT_EQ(DirectoryExists(""), -1);

  EXPECT_EQ(CreateDirectoryTree("D:\\a\\b c\\d"), 1);
  EXPECT_EQ(DirectoryExists("D:\\a\\b c\\d\\"), 0);
  WriteHostFile(root.D() / "a" / "b c" / "d" / "keep", "kept");
  EXPECT_EQ(CreateDirectoryTree("D:\\a\\b c\\d\\"), 1);
  EXPECT_EQ(ReadHostFile(root.D() / "a" / "b c" / "d" / "keep"), "kept");
  EXPECT_EQ(CreateDirectoryTree("D:"), 1);
  EXPECT_EQ(CreateDirectoryTree(""), -1);
  EXPECT_EQ(CreateDirectoryTree("D:\\file.txt\\sub"), 0);
  EXPECT_EQ(CreateDirectoryTree("Q:\\x"), 0);
  EXPECT_EQ(CreateDirectoryTree("D:\\long\\" + std::string(130, 'l') + "\\" + std::string(130, 'l')), 0);
  EXPECT_FALSE(fs::exists(root.D() / "long")) << "nothing made for a path that cannot fit";

  EXPECT_EQ(DeleteDirectoryTree("D:\\a"), 0);
  EXPECT_FALSE(fs::exists(root.D() / "a"));
  EXPECT_NE(DeleteDirectoryTree("D:\\a"), 0) << "a missing tree is an error";
  EXPECT_EQ(DeleteDirectoryTree(""), -1);
  EXPECT_NE(DeleteDirectoryTree("D:\\"), 0) << "a whole drive is never deleted";
  EXPECT_TRUE(fs::exists(root.D() / "file.txt"));
}

TEST(HostUtilsTest, DominoDirectoryAndFileCopy) {
  TempHostRoot root;
  MockDominoApi api;
  EXPECT_CALL(api, TranslatePath(1, _, 0xFFFF, _, 256))
      .WillRepeatedly(Invoke([](WORD, const char* path, WORD, char* out, WORD size) {
        std::snprintf(out, size, "%s", path);
        return STATUS(0);
      }));
  EXPECT_FALSE(CreateDominoDirectory("D:\\logs"));
  EXPECT_FALSE(CreateDominoDirectory("D:\\logs")) << "already there counts as done";
  EXPECT_TRUE(fs::is_directory(root.D() / "logs"));
  EXPECT_TRUE(CreateDominoDirectory("D:\\no\\parent"));
  EXPECT_CALL(api, TranslatePath(1, _, 0xFFFF, _, 256)).WillOnce(Return(STATUS(0x0105)));
  EXPECT_TRUE(CreateDominoDirectory("D:\\untranslatable"));
  EXPECT_FALSE(fs::exists(root.D() / "untranslatable"));

  WriteHostFile(root.D() / "src.txn", std::string(100000, 's'));
  WriteHostFile(root.D() / "dst.txn", "old");
  EXPECT_FALSE(CopyOneFile("D:\\src.txn", "D:\\dst.txn", true));
  EXPECT_EQ(ReadHostFile(root.D() / "dst.txn"), "old");
  EXPECT_TRUE(CopyOneFile("D:\\src.txn", "D:\\dst.txn", false));
  EXPECT_EQ(ReadHostFile(root.D() / "dst.txn"), std::string(100000, 's'));
}

TEST(HostUtilsTest, FreeSpaceTimeTextAndServerProcess) {
  TempHostRoot root;
  std::uint32_t mb = 7;
  EXPECT_FALSE(GetFreeDiskMegabytes("Q", mb)) << "unmapped drive";
  EXPECT_FALSE(GetFreeDiskMegabytes("", mb));
  EXPECT_EQ(mb, 7u);
  ASSERT_TRUE(GetFreeDiskMegabytes("d:\\", mb));
  const double expected = double(fs::space(root.D()).free >> 20);
  EXPECT_NEAR(mb, expected, 64 + expected / 100);

  EXPECT_EQ(LocalTimeText(SYSTEMTIME{2003, 3, 0, 2, 9, 5, 3, 7}), "3/2/2003 09:05:03:07");
  EXPECT_EQ(LocalTimeText(SYSTEMTIME{2003, 12, 0, 31, 23, 5, 3, 123}), "12/31/2003 23:05:03:123");
  EXPECT_TRUE(std::regex_match(LocalTimeText(), std::regex(R"(\d+/\d+/\d{4} \d\d:\d\d:\d\d:\d{2,3})")));

  // A copy of the test helper named in upper case stands in for the server.
  const std::string helper = ProgramBesideTest("test_helper");
  const fs::path exe = root.path() / ("NSERVER" + fs::path(helper).extension().string());
  fs::copy_file(helper, exe);
  ChildProcess server(exe.string(), {"sleep", "30"});
  ASSERT_EQ(server.ReadLine(), "sleeping");
  EXPECT_TRUE(IsDominoRunning());
}

}  // namespace
