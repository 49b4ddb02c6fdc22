// The domino module on a temporary host: settings, ArkLedger paths, registry
// values, file utilities, and the Domino API runtime behind its readers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "domino/host_utils.h"
#include "domino/runtime.h"
#include "domino/settings.h"
#include "platform/registry.h"
#include "tests/support/mock_domino_api.h"
#include "tests/support/server_record.h"
#include "tests/support/temp_host.h"

namespace ark {

namespace fs = std::filesystem;
using ::testing::_;
using ::testing::Invoke;
using ::testing::Return;

namespace {

// CHANGE_INFO_DIR with or without its final backslash.
const char* const kLedgerDirs[] = {"E:\\ledger", "E:\\ledger\\"};
class SettingsTest : public ::testing::Test, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(SettingsTest, LedgerPathsFromChangeInfoDir) {
  TempHostRoot root;
  std::string out = "untouched";
  EXPECT_EQ(GetSnapshotHintPath(ServerRecord("srv1"), out), -1) << "ark.ini missing";
  EXPECT_EQ(out, "untouched");
  EXPECT_EQ(GetChangeInfoRoot(out), -1);
  EXPECT_EQ(out, "") << "an unconfigured root must not read as a drive root";

  WriteNotesSetting("CHANGE_INFO_DIR", kLedgerDirs[GetParam()], GetArkIniPath());
  EXPECT_EQ(GetChangeInfoRoot(out), 0);
  EXPECT_EQ(out, "E:\\ledger\\");
  EXPECT_EQ(GetChangeInfoDir(ServerRecord("srv1"), "", out), 0);
  EXPECT_EQ(out, "E:\\ledger\\srv1\\");
  EXPECT_EQ(GetChangeInfoDir(ServerRecord("srv1"), "dominosnap__H__srv1__recent", out), 0);
  EXPECT_EQ(out, "E:\\ledger\\srv1\\dominosnap__H__srv1__recent");
  EXPECT_EQ(GetSnapshotHintPath(ServerRecord("srv1"), out), 0);
  EXPECT_EQ(out, "E:\\ledger\\srv1\\\\hint");
  // Names that would lead outside the server's own directory, as a common
  // name, as the whole name of a server without one, or as a snapshot name.
  DominoServerInfo flat;
  out = "untouched";
  for (const char* name : {"", ".", "..", "a\\b", "a/b", "E:x"}) {
    EXPECT_EQ(GetChangeInfoDir(ServerRecord(name), "", out), -1) << name;
    flat.serverName = name;
    EXPECT_EQ(GetChangeInfoDir(flat, "", out), -1) << name;
    if (*name != '\0') {
      EXPECT_EQ(GetChangeInfoDir(ServerRecord("srv1"), name, out), -1) << name;
    }
  }
  EXPECT_EQ(out, "untouched");
}
INSTANTIATE_TEST_SUITE_P(Rows, SettingsTest, ::testing::Range<std::size_t>(0, std::size(kLedgerDirs)));

TEST_F(SettingsTest, NotesSettingsWizardFlagsAndRegistryValues) {
  TempHostRoot root;
  std::string value;
  WriteNotesSetting("BACKUPWIZ", "0", GetArkIniPath());
  EXPECT_TRUE(HasBackupWizardRun()) << "only emptiness matters";

  WriteHostFile(root.D() / "Lotus" / "notes.ini", "[Notes]\r\nDirectory=D:\\Lotus\\Data\r\n");
  WriteNotesSetting("TRANSLOG_Path", std::string(300, 'p'), "D:\\Lotus\\notes.ini");
  EXPECT_EQ(ReadNotesSetting("translog_path", value, "D:\\Lotus\\notes.ini"), 255);
  EXPECT_EQ(value, std::string(255, 'p'));

  // Machine registry values fit the buffer or count as missing.
  const std::string key = "SOFTWARE\\Lotus\\Domino";
  platform::RegSetString(key, "Fits", std::string(254, 'f'));
  platform::RegSetString(key, "TooLong", std::string(255, 't'));
  EXPECT_EQ(ReadMachineRegistryValue(key, "Fits", value), 0);
  EXPECT_EQ(value, std::string(254, 'f'));
  value = "untouched";
  for (const char* name : {"TooLong", "Missing"}) {
    EXPECT_EQ(ReadMachineRegistryValue(key, name, value), 1) << name;
  }
  EXPECT_EQ(value, "untouched");
}

TEST(HostUtilsTest, DirectoriesFreeSpaceAndTimeText) {
  TempHostRoot root;
  WriteHostFile(root.D() / "file.txt", "x");
  EXPECT_EQ(DirectoryExists("D:\\file.txt"), 1);

  EXPECT_EQ(CreateDirectoryTree("D:\\a\\b c\\d"), 1);
  EXPECT_EQ(DirectoryExists("D:\\a\\b c\\d\\"), 0);
  WriteHostFile(root.D() / "a" / "b c" / "d" / "keep", "kept");
  EXPECT_EQ(CreateDirectoryTree("D:\\a\\b c\\d\\"), 1);
  EXPECT_EQ(ReadHostFile(root.D() / "a" / "b c" / "d" / "keep"), "kept");
  EXPECT_EQ(CreateDirectoryTree("D:\\file.txt\\sub"), 0);
  EXPECT_EQ(CreateDirectoryTree("Q:\\x"), 0);
  EXPECT_EQ(CreateDirectoryTree("D:\\long\\" + std::string(130, 'l') + "\\" + std::string(130, 'l')), 0);
  EXPECT_FALSE(fs::exists(root.D() / "long")) << "nothing made for a path that cannot fit";

  EXPECT_NE(DeleteDirectoryTree("D:\\"), 0) << "a whole drive is never deleted";
  EXPECT_TRUE(fs::exists(root.D() / "file.txt"));

  std::uint32_t mb = 7;
  EXPECT_FALSE(GetFreeDiskMegabytes("Q", mb)) << "unmapped drive";
  EXPECT_FALSE(GetFreeDiskMegabytes("", mb));
  EXPECT_EQ(mb, 7u);
  ASSERT_TRUE(GetFreeDiskMegabytes("d:\\", mb));
  const double expected = double(fs::space(root.D()).free >> 20);
  EXPECT_NEAR(mb, expected, 64 + expected / 100);

  EXPECT_EQ(LocalTimeText(SYSTEMTIME{2003, 3, 0, 2, 9, 5, 3, 7}), "3/2/2003 09:05:03:07");
  EXPECT_EQ(LocalTimeText(SYSTEMTIME{2003, 12, 0, 31, 23, 5, 3, 123}), "12/31/2003 23:05:03:123");
}

// A successful first start is restarted once (a failed one is not); the
// notes.ini path reaches the runtime whole, never cut to another file's name.
TEST(RuntimeTest, StartRestartsOnceAfterASuccessfulFirstStart) {
  ::testing::StrictMock<MockDominoApi> api;
  std::vector<std::string> calls;
  const STATUS answers[] = {0, 0x0102, 0, 0, 0x0103};
  int starts = 0;
  EXPECT_CALL(api, InitRuntime(_, _)).Times(5).WillRepeatedly(Invoke([&](int argc, char** argv) {
    std::string call = std::to_string(argc) + ":" + (argv == nullptr ? "<no list>" : "");
    for (int i = 0; argv != nullptr && i < argc; ++i) {
      call += std::string(i ? "," : "") + (argv[i] == nullptr ? "<null>" : argv[i]);
    }
    calls.push_back(call);
    return answers[starts++];
  }));
  EXPECT_CALL(api, TermRuntime()).Times(2).WillRepeatedly(Invoke([&] { calls.push_back("term"); }));
  EXPECT_EQ(StartDominoRuntime("D:\\Lotus\\notes.ini"), 0x0102) << "the last start's status";
  EXPECT_EQ(StartDominoRuntime(""), 0);
  const std::string longPath = "D:\\" + std::string(300, 'n') + "\\notes.ini";
  EXPECT_EQ(StartDominoRuntime(longPath), 0x0103);
  EXPECT_EQ(calls, (std::vector<std::string>{"2:<null>,=D:\\Lotus\\notes.ini", "term", "2:<null>,=D:\\Lotus\\notes.ini",
                                             "0:<no list>", "term", "0:<no list>", "2:<null>,=" + longPath}));
}

// A failed abbreviation keeps the name as read; without a runtime every call fails.
TEST(RuntimeTest, ServerNameKeptWhenItsAbbreviationFailsAndWithoutARuntimeEveryCallFails) {
  std::string name;
  {
    ::testing::StrictMock<MockDominoApi> api;
    EXPECT_CALL(api, GetServerName(_)).WillOnce(Invoke([](char* buffer) {
      return std::strcpy(buffer, "CN=srv1/O=Org"), STATUS(0);
    }));
    EXPECT_CALL(api, AbbreviateName(0, 0, _, _, 256, _)).WillOnce(Return(STATUS(0x0104)));
    ReadServerName(name);
    EXPECT_EQ(name, "CN=srv1/O=Org");
  }
  EXPECT_EQ(StartDominoRuntime("D:\\notes.ini"), ERR_NO_RUNTIME);
  ReadServerName(name);
  EXPECT_EQ(name, "");
}

}  // namespace

}  // namespace ark
