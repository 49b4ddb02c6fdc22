// HKEY_LOCAL_MACHINE through the platform calls, under a key of the tests,
// and the profile files (ark.ini).
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/host.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_host.h"

namespace platform {
namespace {

const std::string kKey = std::string(kTestRegistryKey) + "\\Domino\\5.0";

// Enumeration and the types on disk are the event source's and the POSIX
// tests'; here texts that need escaping, the default value, the errors.
TEST(Registry, ValuesTheirTypesAndTheirErrors) {
  TempHostRoot root;
  const std::pair<std::string, std::string> kTexts[] = {{"Quote", "a\\b\"c"}, {"Lines", "one\r\ntwo"}, {"", "default"}};
  for (const auto& [name, text] : kTexts) ASSERT_EQ(RegSetString(kKey, name, text), ERROR_SUCCESS);
  ASSERT_EQ(RegSetDword(kKey, "Count", 10), ERROR_SUCCESS);
  EXPECT_EQ(RegSetString(kKey, "Bad", "x", RegType::Dword), ERROR_INVALID_PARAMETER);
  std::string s;
  DWORD d = 0;
  for (const auto& [name, text] : kTexts) {
    EXPECT_EQ(RegGetString(kKey, name, s), ERROR_SUCCESS) << name;
    EXPECT_EQ(s, text);
  }
  EXPECT_EQ(RegGetDword(kKey, "Quote", d), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegGetString(kKey, "Count", s), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegGetString(kKey, "Absent", s), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegGetString(std::string(kTestRegistryKey) + "\\Absent", "Quote", s), ERROR_FILE_NOT_FOUND);

  // Names compare without regard to case: one value, written twice.
  ASSERT_EQ(RegSetString(kKey, "QUOTE", "again"), ERROR_SUCCESS);
  EXPECT_EQ(RegGetString(platform::ToLowerAnsi(kKey) + "\\", "quote", s), ERROR_SUCCESS);
  EXPECT_EQ(s, "again");
  EXPECT_EQ(RegEnumValues(kKey).size(), 4u);
  EXPECT_EQ(RegDeleteValue(kKey, "quote"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValue(kKey, "quote"), ERROR_FILE_NOT_FOUND);
}

TEST(Registry, KeysAndTheirTrees) {
  TempHostRoot root;
  const std::string base = kTestRegistryKey;
  ASSERT_EQ(RegCreateKey(base + "\\Classes\\CLSID\\{a}"), ERROR_SUCCESS);
  ASSERT_EQ(RegSetDword(base + "\\Classes\\CLSID\\{b}\\Config", "X", 1), ERROR_SUCCESS);
  ASSERT_EQ(RegSetDword(base + "\\Lotus", "Y", 2), ERROR_SUCCESS);
  // Parents exist implicitly.
  EXPECT_TRUE(RegKeyExists(base + "\\Classes"));
  EXPECT_TRUE(RegKeyExists(base + "\\classes\\clsid\\{B}"));
  EXPECT_EQ(RegEnumSubKeys(base), (std::vector<std::string>{"Classes", "Lotus"}));
  EXPECT_EQ(RegEnumSubKeys(base + "\\Classes\\CLSID"), (std::vector<std::string>{"{a}", "{b}"}));

  EXPECT_EQ(RegDeleteKeyTree(base + "\\Classes\\CLSID\\{b}"), ERROR_SUCCESS);
  EXPECT_FALSE(RegKeyExists(base + "\\Classes\\CLSID\\{b}\\Config"));
  EXPECT_TRUE(RegKeyExists(base + "\\Classes\\CLSID\\{a}"));
  // A key that only shares a prefix of its name is not part of the tree.
  ASSERT_EQ(RegCreateKey(base + "\\LotusNotes"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyTree(base + "\\Lotus"), ERROR_SUCCESS);
  EXPECT_TRUE(RegKeyExists(base + "\\LotusNotes"));
  EXPECT_EQ(RegDeleteKeyTree(base + "\\Lotus"), ERROR_FILE_NOT_FOUND);
}

std::string Get(const std::string& section, const std::string& key, const std::string& file,
                std::size_t capacity = 256) {
  std::string out = "garbage";
  const std::size_t n = GetPrivateProfileString(section, key, "dflt ", out, capacity, file);
  EXPECT_EQ(n, out.size());
  return out;
}

TEST(Profile, ReadsAsWindowsDoes) {
  TempHostRoot root;
  WriteHostFile(root.WindowsDirectory() / "ark.ini",
                "; comment\r\n[Other]\r\nCHANGE_INFO_DIR=wrong\r\n[ NOTES ]\r\n"
                "  change_info_dir =  E:\\ledger  \r\nQuoted=\"a b\"\r\nEmpty=\r\n[notes]\r\nLater=x\r\n");
  const std::string ini = GetWindowsDirectory() + "\\ark.ini";
  EXPECT_EQ(Get("notes", "CHANGE_INFO_DIR", ini), "E:\\ledger");
  EXPECT_EQ(Get("NOTES", "quoted", ini), "a b");
  EXPECT_EQ(Get("NOTES", "Empty", ini), "");
  EXPECT_EQ(Get("NOTES", "Missing", ini), "dflt");  // default without trailing blanks
  EXPECT_EQ(Get("NOTES", "Later", ini), "dflt");    // only the first section of a name counts
  EXPECT_EQ(Get("NOTES", "CHANGE_INFO_DIR", "D:\\none.ini"), "dflt");
  // At most capacity-1 characters.
  EXPECT_EQ(Get("NOTES", "CHANGE_INFO_DIR", ini, 4), "E:\\");
  EXPECT_EQ(Get("NOTES", "CHANGE_INFO_DIR", ini, 0), "");
}

TEST(Profile, WriteChangesOneLineAndKeepsTheRest) {
  TempHostRoot root;
  const auto host = root.D() / "ark.ini";
  const std::string ini = "D:\\ark.ini";
  WriteHostFile(host, "; keep me\r\n[NOTES]\r\nCONFIGWIZ=1\r\nCHANGE_INFO_DIR=E:\\old\r\n\r\n[Other]\r\nA=1\r\n");

  ASSERT_TRUE(WritePrivateProfileString("notes", "CHANGE_INFO_DIR", "E:\\new", ini));
  ASSERT_TRUE(WritePrivateProfileString("NOTES", "BACKUPWIZ", "1", ini));
  ASSERT_TRUE(WritePrivateProfileString("Third", "K", "v", ini));
  const std::string text = ReadHostFile(host);
  for (const char* kept : {"; keep me\r\n", "CONFIGWIZ=1\r\n", "CHANGE_INFO_DIR=E:\\new\r\n", "BACKUPWIZ=1\r\n",
                           "[Other]\r\nA=1\r\n", "[Third]\r\nK=v\r\n"}) {
    EXPECT_NE(text.find(kept), std::string::npos) << kept << " in\n" << text;
  }
  EXPECT_EQ(text.find("old"), std::string::npos) << text;
  EXPECT_LT(text.find("BACKUPWIZ"), text.find("[Other]")) << "a new key goes into its section";
  EXPECT_EQ(Get("NOTES", "CHANGE_INFO_DIR", ini), "E:\\new");

  // A missing file is created (Windows line ends); a missing folder fails.
  ASSERT_TRUE(WritePrivateProfileString("NOTES", "BACKUPWIZ", "1", "D:\\new.ini"));
  EXPECT_EQ(ReadHostFile(root.D() / "new.ini"), "[NOTES]\r\nBACKUPWIZ=1\r\n");
  EXPECT_FALSE(WritePrivateProfileString("NOTES", "K", "v", "D:\\NoDir\\x.ini"));
  EXPECT_FALSE(std::filesystem::exists(root.D() / "NoDir"));

  // Text that would break the file is refused and changes nothing.
  const std::string before = ReadHostFile(host);
  EXPECT_FALSE(WritePrivateProfileString("NOTES", "K", "v\r\n[Evil]", ini));
  EXPECT_FALSE(WritePrivateProfileString("NOTES", "K=1", "v", ini));
  EXPECT_FALSE(WritePrivateProfileString("NO]TES", "K", "v", ini));
  EXPECT_FALSE(WritePrivateProfileString("NOTES", "", "v", ini));
  EXPECT_EQ(ReadHostFile(host), before);
}

TEST(Profile, ConcurrentWritersLoseNothing) {
  TempHostRoot root;
  constexpr int kKeys = 30;
  {
    ChildProcess first(ProgramBesideTest("test_helper"), {"profile", "D:\\c.ini", "first", std::to_string(kKeys)});
    ChildProcess second(ProgramBesideTest("test_helper"), {"profile", "D:\\c.ini", "second", std::to_string(kKeys)});
    for (int i = 0; i < kKeys; ++i) WritePrivateProfileString("S", "here" + std::to_string(i), "v", "D:\\c.ini");
    EXPECT_EQ(first.Wait(), 0);
    EXPECT_EQ(second.Wait(), 0);
  }
  for (const char* name : {"first", "second", "here"}) {
    for (int i = 0; i < kKeys; ++i) EXPECT_EQ(Get("S", name + std::to_string(i), "D:\\c.ini"), "v") << name << i;
  }
}

}  // namespace
}  // namespace platform
