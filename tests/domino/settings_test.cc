// ark.ini settings, ArkLedger paths, registry values and path helpers.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "domino/settings.h"
#include "platform/registry.h"
#include "tests/output/temp_host_root.h"

namespace fs = std::filesystem;

namespace {

class SettingsTest : public ::testing::Test {
 protected:
  DominoServerInfo Server(const std::string& commonName) {
    DominoServerInfo server;
    server.commonName = commonName;
    return server;
  }
  TempHostRoot root_{"settings"};
};

TEST_F(SettingsTest, ArkIniLivesInTheWindowsDirectory) {
  EXPECT_EQ(GetArkIniPath(), "C:\\Windows\\ark.ini");
  WriteNotesSetting("CHANGE_INFO_DIR", "E:\\ledger", GetArkIniPath());
  std::ifstream in(root_.path() / "Windows" / "ark.ini");
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(all.find("[NOTES]"), std::string::npos) << all;
  EXPECT_NE(all.find("CHANGE_INFO_DIR=E:\\ledger"), std::string::npos) << all;
}

TEST_F(SettingsTest, LedgerPathsWithAndWithoutTrailingBackslash) {
  for (const char* dir : {"E:\\ledger", "E:\\ledger\\"}) {
    SCOPED_TRACE(dir);
    WriteNotesSetting("CHANGE_INFO_DIR", dir, GetArkIniPath());
    std::string out;
    EXPECT_EQ(GetChangeInfoRoot(out), 0);
    EXPECT_EQ(out, "E:\\ledger\\");
    EXPECT_EQ(GetChangeInfoDir(Server("srv1"), "", out), 0);
    EXPECT_EQ(out, "E:\\ledger\\srv1\\");
    EXPECT_EQ(GetChangeInfoDir(Server("srv1"), "dominosnap__HOST__srv1__recent", out), 0);
    EXPECT_EQ(out, "E:\\ledger\\srv1\\dominosnap__HOST__srv1__recent");
    EXPECT_EQ(GetSnapshotHintPath(Server("srv1"), out), 0);
    EXPECT_EQ(out, "E:\\ledger\\srv1\\\\hint");
  }
}

TEST_F(SettingsTest, UnconfiguredOrUnsafeLedgerPathsFailAndLeaveOutputAlone) {
  std::string out = "untouched";
  EXPECT_EQ(GetChangeInfoDir(Server("srv1"), "", out), -1);  // ark.ini missing
  EXPECT_EQ(out, "untouched");
  EXPECT_EQ(GetSnapshotHintPath(Server("srv1"), out), -1);
  EXPECT_EQ(out, "untouched");
  EXPECT_EQ(GetChangeInfoRoot(out), -1);
  EXPECT_EQ(out, "") << "an unconfigured root must not read as a drive root";

  WriteNotesSetting("CHANGE_INFO_DIR", "E:\\ledger", GetArkIniPath());
  out = "untouched";
  for (const char* name : {"", ".", "..", "a\\b", "a/b", "E:x"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(GetChangeInfoDir(Server(name), "snap", out), -1);
    EXPECT_EQ(GetSnapshotHintPath(Server(name), out), -1);
  }
  for (const char* name : {".", "..", "..\\..\\Windows", "x/y"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(GetChangeInfoDir(Server("srv1"), name, out), -1);
  }
  EXPECT_EQ(out, "untouched");
}

TEST_F(SettingsTest, NotesSettingsReadAndWrite) {
  std::string value = "stale";
  EXPECT_EQ(ReadNotesSetting("CHANGE_INFO_DIR", value, GetArkIniPath()), 0);
  EXPECT_EQ(value, "");
  EXPECT_FALSE(HasConfigWizardRun());
  EXPECT_FALSE(HasBackupWizardRun());

  WriteNotesSetting("BACKUPWIZ", "0", GetArkIniPath());
  EXPECT_TRUE(HasBackupWizardRun()) << "only emptiness matters";
  EXPECT_FALSE(HasConfigWizardRun());
  WriteNotesSetting("CONFIGWIZ", std::string(40, 'y'), GetArkIniPath());
  EXPECT_TRUE(HasConfigWizardRun());
  WriteNotesSetting("BACKUPWIZ", "", GetArkIniPath());
  EXPECT_FALSE(HasBackupWizardRun());

  // A server's notes.ini on a mapped drive, other lines kept; long values cut at 255.
  fs::create_directories(root_.D() / "Lotus");
  {
    std::ofstream ini(root_.D() / "Lotus" / "notes.ini");
    ini << "[Notes]\r\nDirectory=D:\\Lotus\\Data\r\nTRANSLOG_Path=logdir\\\r\n";
  }
  EXPECT_EQ(ReadNotesSetting("translog_path", value, "D:\\Lotus\\notes.ini"), 7);
  EXPECT_EQ(value, "logdir\\");
  WriteNotesSetting("TRANSLOG_Path", std::string(300, 'p'), "D:\\Lotus\\notes.ini");
  EXPECT_EQ(ReadNotesSetting("TRANSLOG_Path", value, "D:\\Lotus\\notes.ini"), 255);
  EXPECT_EQ(value, std::string(255, 'p'));
  EXPECT_EQ(ReadNotesSetting("Directory", value, "D:\\Lotus\\notes.ini"), 13);
  EXPECT_EQ(value, "D:\\Lotus\\Data");
}

TEST_F(SettingsTest, MachineRegistryValuesFitTheBufferOrCountAsMissing) {
  const std::string key = "SOFTWARE\\Lotus\\Domino";
  platform::RegSetString(key, "Path", "C:\\Lotus\\Domino");
  platform::RegSetString(key, "Fits", std::string(254, 'f'));
  platform::RegSetString(key, "TooLong", std::string(255, 't'));
  platform::RegSetDword(key, "Number", 7);
  std::string value;
  EXPECT_EQ(ReadMachineRegistryValue(key, "Path", value), 0);
  EXPECT_EQ(value, "C:\\Lotus\\Domino");
  EXPECT_EQ(ReadMachineRegistryValue(key, "Fits", value), 0);
  EXPECT_EQ(value.size(), 254u);
  value = "untouched";
  EXPECT_EQ(ReadMachineRegistryValue(key, "TooLong", value), 1);
  EXPECT_EQ(ReadMachineRegistryValue(key, "Missing", value), 1);
  EXPECT_EQ(ReadMachineRegistryValue(key, "Number", value), 1);
  EXPECT_EQ(ReadMachineRegistryValue("SOFTWARE\\Nothing", "Path", value), 1);
  EXPECT_EQ(value, "untouched");
}

TEST(PathTest, SplitPathGivesFiveParts) {
  SplitPathResult parts;
  EXPECT_EQ(SplitPath("", parts), -1);
  ASSERT_EQ(SplitPath("C:\\Lotus\\Domino\\notes.ini", parts), 0);
  EXPECT_EQ(parts.drive, "C:");
  EXPECT_EQ(parts.directory, "\\Lotus\\Domino\\");
  EXPECT_EQ(parts.fileName, "notes");
  EXPECT_EQ(parts.extension, ".ini");
  EXPECT_EQ(parts.driveAndDirectory, "C:\\Lotus\\Domino\\");

  ASSERT_EQ(SplitPath("D:\\data.dir\\", parts), 0);
  EXPECT_EQ(parts.directory, "\\data.dir\\");
  EXPECT_EQ(parts.fileName, "");
  EXPECT_EQ(parts.extension, "");

  ASSERT_EQ(SplitPath("archive.tar.gz", parts), 0);
  EXPECT_EQ(parts.drive, "");
  EXPECT_EQ(parts.directory, "");
  EXPECT_EQ(parts.fileName, "archive.tar");
  EXPECT_EQ(parts.extension, ".gz");
  EXPECT_EQ(parts.driveAndDirectory, "");

  ASSERT_EQ(SplitPath("E:nserver", parts), 0);
  EXPECT_EQ(parts.drive, "E:");
  EXPECT_EQ(parts.fileName, "nserver");
}

TEST(PathTest, JoinPathUsesExactlyOneBackslash) {
  EXPECT_EQ(JoinPath("C:\\a", "b.nsf"), "C:\\a\\b.nsf");
  EXPECT_EQ(JoinPath("C:\\a\\", "b.nsf"), "C:\\a\\b.nsf");
  EXPECT_EQ(JoinPath("C:\\a\\", "\\b.nsf"), "C:\\a\\b.nsf");
  EXPECT_EQ(JoinPath("C:\\", "logs"), "C:\\logs");
  EXPECT_EQ(JoinPath("C:\\a", ""), "C:\\a\\");
  EXPECT_EQ(JoinPath("", "b"), "b");
}

}  // namespace
