// HKEY_LOCAL_MACHINE of the POSIX layer: registry.reg as Windows writes
// it, edits by hand and by other processes, damaged files.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/registry.h"
#include "tests/support/temp_host.h"

namespace platform {
namespace {

constexpr char kKey[] = "SOFTWARE\\Lotus\\Domino\\5.0";

// A fresh host; file is its registry.reg.
struct RegistryPosix : testing::Test {
  TempHostRoot root;
  const std::string file = (root.path() / "registry.reg").string();
};

TEST_F(RegistryPosix, RewriteKeepsEverythingItDidNotTouch) {
  const std::string original =
      "Windows Registry Editor Version 5.00\r\n"
      "\r\n"
      "; written by hand\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Lotus\\Domino\\5.0]\r\n"
      "\"Path\"=\"D:\\\\Lotus\\\\Domino\"\r\n"
      "\"Multi\"=hex(7):41,00,00,00,00,00\r\n"
      "\"Blob\"=hex:01,02,\\\r\n"
      "  03\r\n"
      "this line means nothing\r\n"
      "\r\n"
      "[HKEY_CURRENT_USER\\Software\\Other]\r\n"
      "\"Kept\"=\"yes\"\r\n"
      "\r\n";
  WriteHostFile(file, original);

  ASSERT_EQ(RegSetString(kKey, "Version", "5.0.13"), ERROR_SUCCESS);
  const std::string after = ReadHostFile(file);
  // The old text is there unchanged, only the new value line is added.
  const std::string added = "\"Version\"=\"5.0.13\"\r\n";
  std::string expected = original;
  expected.insert(expected.find("\r\n[HKEY_CURRENT_USER"), added);
  EXPECT_EQ(after, expected);

  std::string path;
  EXPECT_EQ(RegGetString(kKey, "Path", path), ERROR_SUCCESS);
  EXPECT_EQ(path, "D:\\Lotus\\Domino");
  // Values of other types are kept but are no strings; keys of other hives are invisible.
  EXPECT_EQ(RegGetString(kKey, "Multi", path), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(RegKeyExists("Software\\Other"));
}

TEST_F(RegistryPosix, ValueFormatsAsWindowsWritesThem) {
  ASSERT_EQ(RegSetString(kKey, "Quote", "x"), ERROR_SUCCESS);
  ASSERT_EQ(RegSetDword(kKey, "Count", 10), ERROR_SUCCESS);
  ASSERT_EQ(RegSetString(kKey, "Short", "C:\\x", RegType::ExpandString), ERROR_SUCCESS);
  ASSERT_EQ(RegSetString(kKey, "Long", "C:\\Program Files\\ark\\eventmsg.dll", RegType::ExpandString), ERROR_SUCCESS);
  ASSERT_EQ(RegSetString(kKey, "Lines", "one\r\ntwo"), ERROR_SUCCESS);
  ASSERT_EQ(RegSetString(kKey, "", "default"), ERROR_SUCCESS);
  // Names keep the case of their first writer.
  ASSERT_EQ(RegSetString("SOFTWARE\\LOTUS\\DOMINO\\5.0", "QUOTE", "a\\b\"c"), ERROR_SUCCESS);

  const std::string text = ReadHostFile(file);
  EXPECT_TRUE(text.starts_with("Windows Registry Editor Version 5.00\r\n\r\n")) << text;
  EXPECT_NE(text.find("\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Lotus\\Domino\\5.0]\r\n\"Quote\"=\"a\\\\b\\\"c\"\r\n"),
            std::string::npos) << text;
  EXPECT_EQ(text.find("LOTUS"), std::string::npos);
  EXPECT_NE(text.find("\"Count\"=dword:0000000a\r\n"), std::string::npos);
  EXPECT_NE(text.find("\"Short\"=hex(2):43,00,3a,00,5c,00,78,00,00,00\r\n"), std::string::npos);
  EXPECT_NE(text.find("@=\"default\"\r\n"), std::string::npos);
  // Long binary data wraps: lines end in ",\" and go on indented by two blanks.
  const auto longAt = text.find("\"Long\"=hex(2):43,00,3a,00,");
  ASSERT_NE(longAt, std::string::npos);
  EXPECT_NE(text.find(",\\\r\n  ", longAt), std::string::npos);
  // A line end cannot stand in quotes: the text is kept as binary REG_SZ.
  EXPECT_NE(text.find("\"Lines\"=hex(1):6f,00,6e,00,65,00,0d,00,0a,00"), std::string::npos);
}

TEST_F(RegistryPosix, SeesOtherWritersAndLosesNoConcurrentValue) {
  ASSERT_EQ(RegSetString(kKey, "Name", "first"), ERROR_SUCCESS);
  std::string s;
  ASSERT_EQ(RegGetString(kKey, "Name", s), ERROR_SUCCESS);
  // An edit by hand of the same length is seen too.
  std::string text = ReadHostFile(file);
  text.replace(text.find("first"), 5, "other");
  WriteHostFile(file, text);
  ASSERT_EQ(RegGetString(kKey, "Name", s), ERROR_SUCCESS);
  EXPECT_EQ(s, "other");

  // Two processes write 40 values each at the same time.
  constexpr int kValues = 40;
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  const char* who = child == 0 ? "child" : "parent";
  for (int i = 0; i < kValues; ++i) RegSetDword(kKey, who + std::to_string(i), static_cast<DWORD>(i));
  if (child == 0) ::_exit(0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  for (const char* name : {"child", "parent"}) {
    for (int i = 0; i < kValues; ++i) {
      DWORD d = 999;
      EXPECT_EQ(RegGetDword(kKey, name + std::to_string(i), d), ERROR_SUCCESS) << name << i;
      EXPECT_EQ(d, static_cast<DWORD>(i));
    }
  }
}

TEST_F(RegistryPosix, DamagedLinesAreKeptAndReportedNotFatal) {
  const std::string damaged =
      "Windows Registry Editor Version 5.00\n\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Bad]\n"
      "\"Open\"=\"no end\n"
      "\"Number\"=dword:zz\n"
      "\"Odd\"=hex(2):41,00,4\n"
      "[broken\n"
      "\"Good\"=\"fine\"\n";
  WriteHostFile(file, damaged);
  std::string s;
  DWORD d;
  EXPECT_EQ(RegGetDword("SOFTWARE\\Bad", "Number", d), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegGetString("SOFTWARE\\Bad", "Odd", s), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegGetString("SOFTWARE\\Bad", "Good", s), ERROR_SUCCESS);
  EXPECT_EQ(s, "fine");
  ASSERT_EQ(RegSetString("SOFTWARE\\Bad", "New", "v"), ERROR_SUCCESS);
  const std::string after = ReadHostFile(file);
  for (const char* line : {"\"Open\"=\"no end\n", "\"Number\"=dword:zz\n", "\"Odd\"=hex(2):41,00,4\n",
                           "[broken\n", "\"New\"=\"v\"\n"}) {
    EXPECT_NE(after.find(line), std::string::npos) << line;
  }
  // A file as regedit exports it: UTF-16LE with a byte order mark.
  std::string utf16 = "\xFF\xFE";
  for (char c : std::string("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\U]\r\n"
                            "\"V\"=\"w\"\r\n\r\n")) {
    utf16 += c;
    utf16 += '\0';
  }
  WriteHostFile(file, utf16);
  ASSERT_EQ(RegGetString("U", "V", s), ERROR_SUCCESS);
  EXPECT_EQ(s, "w");

  // Duplicates of a value (the last one counts) collapse into one on write.
  WriteHostFile(file, "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\K]\n\"A\"=\"1\"\n"
                  "\"B\"=\"b\"\n\"a\"=\"2\"\n\n[HKEY_LOCAL_MACHINE\\K]\n\"A\"=\"3\"\n");
  ASSERT_EQ(RegGetString("K", "A", s), ERROR_SUCCESS);
  EXPECT_EQ(s, "3");
  ASSERT_EQ(RegSetString("K", "A", "4"), ERROR_SUCCESS);
  EXPECT_EQ(ReadHostFile(file), "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\K]\n"
                            "\"B\"=\"b\"\n\n[HKEY_LOCAL_MACHINE\\K]\n\"A\"=\"4\"\n\n");
}

}  // namespace
}  // namespace platform
