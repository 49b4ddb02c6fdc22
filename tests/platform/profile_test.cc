#include "platform/profile.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "file_util.h"
#include "temp_root.h"

namespace platform {
namespace {

using testing::ReadHost;
using testing::TempRoot;
using testing::WriteHost;

std::string Get(const std::string& section, const std::string& key, const std::string& file,
                std::size_t capacity = 256) {
  std::string out = "garbage";
  const std::size_t n = GetPrivateProfileString(section, key, "dflt ", out, capacity, file);
  EXPECT_EQ(n, out.size());
  return out;
}

TEST(Profile, ReadsAsWindowsDoes) {
  TempRoot root;
  root.MakeDir("Windows");
  WriteHost(root.path() + "/Windows/ark.ini",
            "; comment\r\n[Other]\r\nCHANGE_INFO_DIR=wrong\r\n[ NOTES ]\r\n"
            "  change_info_dir =  E:\\ledger  \r\nQuoted=\"a b\"\r\nEmpty=\r\n[notes]\r\nLater=x\r\n");
  const std::string ini = "C:\\Windows\\ark.ini";
  EXPECT_EQ(Get("notes", "CHANGE_INFO_DIR", ini), "E:\\ledger");
  EXPECT_EQ(Get("NOTES", "quoted", ini), "a b");
  EXPECT_EQ(Get("NOTES", "Empty", ini), "");
  EXPECT_EQ(Get("NOTES", "Missing", ini), "dflt");  // default without trailing blanks
  EXPECT_EQ(Get("NOTES", "Later", ini), "dflt");    // only the first section of a name counts
  EXPECT_EQ(Get("NOTES", "CHANGE_INFO_DIR", "C:\\Windows\\none.ini"), "dflt");
  EXPECT_EQ(Get("NOTES", "CHANGE_INFO_DIR", "Q:\\unmapped.ini"), "dflt");
  // At most capacity-1 characters.
  EXPECT_EQ(Get("NOTES", "CHANGE_INFO_DIR", ini, 4), "E:\\");
  EXPECT_EQ(Get("NOTES", "CHANGE_INFO_DIR", ini, 1), "");
  EXPECT_EQ(Get("NOTES", "CHANGE_INFO_DIR", ini, 0), "");
}

TEST(Profile, WriteChangesOneLineAndKeepsTheRest) {
  TempRoot root;
  root.MakeDir("Windows");
  const std::string host = root.path() + "/Windows/ark.ini";
  const std::string ini = "C:\\Windows\\ark.ini";
  WriteHost(host, "; keep me\n[NOTES]\nCONFIGWIZ=1\nCHANGE_INFO_DIR=E:\\old\n\n[Other]\nA=1\n");

  ASSERT_TRUE(WritePrivateProfileString("notes", "change_info_dir", "E:\\new", ini));
  ASSERT_TRUE(WritePrivateProfileString("NOTES", "BACKUPWIZ", "1", ini));
  ASSERT_TRUE(WritePrivateProfileString("Third", "K", "v", ini));
  EXPECT_EQ(ReadHost(host),
            "; keep me\n[NOTES]\nCONFIGWIZ=1\nchange_info_dir=E:\\new\nBACKUPWIZ=1\n\n[Other]\nA=1\n"
            "[Third]\nK=v\n");
  EXPECT_EQ(Get("NOTES", "CHANGE_INFO_DIR", ini), "E:\\new");

  // A missing file is created (Windows line ends); a missing folder fails.
  ASSERT_TRUE(WritePrivateProfileString("NOTES", "BACKUPWIZ", "1", "C:\\new.ini"));
  EXPECT_EQ(ReadHost(root.path() + "/new.ini"), "[NOTES]\r\nBACKUPWIZ=1\r\n");
  EXPECT_FALSE(WritePrivateProfileString("NOTES", "K", "v", "C:\\NoDir\\x.ini"));
  EXPECT_NE(::access((root.path() + "/NoDir").c_str(), F_OK), 0);

  // Text that would break the file is refused and changes nothing.
  const std::string before = ReadHost(host);
  EXPECT_FALSE(WritePrivateProfileString("NOTES", "K", "v\r\n[Evil]", ini));
  EXPECT_FALSE(WritePrivateProfileString("NOTES", "K=1", "v", ini));
  EXPECT_FALSE(WritePrivateProfileString("NO]TES", "K", "v", ini));
  EXPECT_FALSE(WritePrivateProfileString("NOTES", "", "v", ini));
  EXPECT_EQ(ReadHost(host), before);
}

TEST(Profile, ConcurrentWritersLoseNothing) {
  TempRoot root;
  constexpr int kKeys = 30;
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  const std::string who = child == 0 ? "child" : "parent";
  for (int i = 0; i < kKeys; ++i) WritePrivateProfileString("S", who + std::to_string(i), "v", "C:\\c.ini");
  if (child == 0) ::_exit(0);
  ASSERT_EQ(::waitpid(child, nullptr, 0), child);
  for (const char* name : {"child", "parent"}) {
    for (int i = 0; i < kKeys; ++i) EXPECT_EQ(Get("S", name + std::to_string(i), "C:\\c.ini"), "v");
  }
}

}  // namespace
}  // namespace platform
