// HKEY_LOCAL_MACHINE through the platform calls, under a key of the tests.
#include "platform/registry.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "tests/support/temp_host.h"

namespace platform {
namespace {

const std::string kKey = std::string(kTestRegistryKey) + "\\Domino\\5.0";

TEST(Registry, ValuesTheirTypesAndTheirErrors) {
  TempHostRoot root;
  const std::string longText = "C:\\Program Files\\ark\\eventmsg.dll";
  ASSERT_EQ(RegSetString(kKey, "Quote", "a\\b\"c"), ERROR_SUCCESS);
  ASSERT_EQ(RegSetDword(kKey, "Count", 10), ERROR_SUCCESS);
  ASSERT_EQ(RegSetString(kKey, "Long", longText, RegType::ExpandString), ERROR_SUCCESS);
  ASSERT_EQ(RegSetString(kKey, "Lines", "one\r\ntwo"), ERROR_SUCCESS);
  ASSERT_EQ(RegSetString(kKey, "", "default"), ERROR_SUCCESS);
  EXPECT_EQ(RegSetString(kKey, "Bad", "x", RegType::Dword), ERROR_INVALID_PARAMETER);

  std::string s;
  DWORD d = 0;
  for (const auto& [name, text] : std::vector<std::pair<std::string, std::string>>{
           {"Quote", "a\\b\"c"}, {"Long", longText}, {"Lines", "one\r\ntwo"}, {"", "default"}}) {
    EXPECT_EQ(RegGetString(kKey, name, s), ERROR_SUCCESS) << name;
    EXPECT_EQ(s, text);
  }
  EXPECT_EQ(RegGetDword(kKey, "Count", d), ERROR_SUCCESS);
  EXPECT_EQ(d, 10u);
  std::vector<RegValue> values = RegEnumValues(kKey);
  ASSERT_EQ(values.size(), 5u);
  const auto byName = [&](const std::string& name) {
    return *std::find_if(values.begin(), values.end(), [&](const RegValue& v) { return v.name == name; });
  };
  EXPECT_EQ(byName("Long").type, RegType::ExpandString);
  EXPECT_EQ(byName("Long").text, longText);
  EXPECT_EQ(byName("Count").type, RegType::Dword);
  EXPECT_EQ(byName("Count").number, 10u);
  EXPECT_EQ(RegGetDword(kKey, "Quote", d), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegGetString(kKey, "Count", s), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegGetString(kKey, "Absent", s), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegGetString(std::string(kTestRegistryKey) + "\\Absent", "Quote", s), ERROR_FILE_NOT_FOUND);

  // Names compare without regard to case: one value, written twice.
  ASSERT_EQ(RegSetString(kKey, "QUOTE", "again"), ERROR_SUCCESS);
  EXPECT_EQ(RegGetString(platform::ToLowerAnsi(kKey) + "\\", "quote", s), ERROR_SUCCESS);
  EXPECT_EQ(s, "again");
  EXPECT_EQ(RegEnumValues(kKey).size(), 5u);
  EXPECT_EQ(RegDeleteValue(kKey, "quote"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValue(kKey, "quote"), ERROR_FILE_NOT_FOUND);
}

TEST(Registry, KeysAndTheirTrees) {
  TempHostRoot root;
  const std::string base = kTestRegistryKey;
  EXPECT_FALSE(RegKeyExists(base));
  EXPECT_TRUE(RegEnumSubKeys(base).empty());
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
  EXPECT_EQ(RegDeleteValue(base + "\\LotusNotes", "Nothing"), ERROR_FILE_NOT_FOUND);
}

}  // namespace
}  // namespace platform
