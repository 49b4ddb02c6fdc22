// ark.ini settings, ArkLedger paths, registry values and path helpers.
#include <gtest/gtest.h>

#include "domino/settings.h"
#include "platform/host.h"
#include "platform/registry.h"
#include "tests/output/test_helpers.h"

namespace {

DominoServerInfo Server(const std::string& commonName) {
  DominoServerInfo server;
  server.commonName = commonName;
  return server;
}

TEST(SettingsTest, LedgerPathsFromChangeInfoDir) {
  TempHostRoot root;
  EXPECT_EQ(GetArkIniPath(), platform::GetWindowsDirectory() + "\\ark.ini");
  std::string out = "untouched";
  EXPECT_EQ(GetChangeInfoDir(Server("srv1"), "", out), -1) << "ark.ini missing";
  EXPECT_EQ(GetSnapshotHintPath(Server("srv1"), out), -1);
  EXPECT_EQ(out, "untouched");
  EXPECT_EQ(GetChangeInfoRoot(out), -1);
  EXPECT_EQ(out, "") << "an unconfigured root must not read as a drive root";

  for (const char* dir : {"E:\\ledger", "E:\\ledger\\"}) {
    SCOPED_TRACE(dir);
    WriteNotesSetting("CHANGE_INFO_DIR", dir, GetArkIniPath());
    EXPECT_EQ(GetChangeInfoRoot(out), 0);
    EXPECT_EQ(out, "E:\\ledger\\");
    EXPECT_EQ(GetChangeInfoDir(Server("srv1"), "", out), 0);
    EXPECT_EQ(out, "E:\\ledger\\srv1\\");
    EXPECT_EQ(GetChangeInfoDir(Server("srv1"), "dominosnap__H__srv1__recent", out), 0);
    EXPECT_EQ(out, "E:\\ledger\\srv1\\dominosnap__H__srv1__recent");
    EXPECT_EQ(GetSnapshotHintPath(Server("srv1"), out), 0);
    EXPECT_EQ(out, "E:\\ledger\\srv1\\\\hint");
  }
  // Names that would lead outside the server's own directory, as a common
  // name, as the whole name of a server without one, or as a snapshot name.
  DominoServerInfo flat;
  out = "untouched";
  for (const char* name : {"", ".", "..", "a\\b", "a/b", "E:x"}) {
    EXPECT_EQ(GetChangeInfoDir(Server(name), "", out), -1) << name;
    flat.serverName = name;
    EXPECT_EQ(GetChangeInfoDir(flat, "", out), -1) << name;
    if (*name != '\0') {
      EXPECT_EQ(GetChangeInfoDir(Server("srv1"), name, out), -1) << name;
    }
  }
  EXPECT_EQ(out, "untouched");
}

TEST(SettingsTest, NotesSettingsAndWizardFlags) {
  TempHostRoot root;
  std::string value = "stale";
  EXPECT_EQ(ReadNotesSetting("CONFIGWIZ", value, GetArkIniPath()), 0);
  EXPECT_EQ(value, "");
  EXPECT_FALSE(HasConfigWizardRun());
  WriteNotesSetting("BACKUPWIZ", "0", GetArkIniPath());
  EXPECT_TRUE(HasBackupWizardRun()) << "only emptiness matters";
  EXPECT_FALSE(HasConfigWizardRun());
  WriteNotesSetting("CONFIGWIZ", std::string(40, 'y'), GetArkIniPath());
  EXPECT_TRUE(HasConfigWizardRun());

  WriteHostFile(root.D() / "Lotus" / "notes.ini", "[Notes]\r\nDirectory=D:\\Lotus\\Data\r\n");
  WriteNotesSetting("TRANSLOG_Path", std::string(300, 'p'), "D:\\Lotus\\notes.ini");
  EXPECT_EQ(ReadNotesSetting("translog_path", value, "D:\\Lotus\\notes.ini"), 255);
  EXPECT_EQ(value, std::string(255, 'p'));
  EXPECT_EQ(ReadNotesSetting("Directory", value, "D:\\Lotus\\notes.ini"), 13) << "other lines kept";
}

TEST(SettingsTest, MachineRegistryValuesFitTheBufferOrCountAsMissing) {
  TempHostRoot root;
  const std::string key = "SOFTWARE\\Lotus\\Domino";
  platform::RegSetString(key, "Fits", std::string(254, 'f'));
  platform::RegSetString(key, "TooLong", std::string(255, 't'));
  platform::RegSetDword(key, "Number", 7);
  std::string value;
  EXPECT_EQ(ReadMachineRegistryValue(key, "Fits", value), 0);
  EXPECT_EQ(value, std::string(254, 'f'));
  value = "untouched";
  for (const char* name : {"TooLong", "Missing", "Number"}) {
    EXPECT_EQ(ReadMachineRegistryValue(key, name, value), 1) << name;
  }
  EXPECT_EQ(ReadMachineRegistryValue("SOFTWARE\\Nothing", "Fits", value), 1);
  EXPECT_EQ(value, "untouched");
}

TEST(PathTest, SplitAndJoin) {
  SplitPathResult p;
  EXPECT_EQ(SplitPath("", p), -1);
  ASSERT_EQ(SplitPath("C:\\Lotus\\Domino\\notes.ini", p), 0);
  EXPECT_EQ(p.drive + "|" + p.directory + "|" + p.fileName + "|" + p.extension + "|" + p.driveAndDirectory,
            "C:|\\Lotus\\Domino\\|notes|.ini|C:\\Lotus\\Domino\\");
  ASSERT_EQ(SplitPath("D:\\data.dir\\", p), 0);
  EXPECT_EQ(p.directory + "|" + p.fileName + "|" + p.extension, "\\data.dir\\||");
  ASSERT_EQ(SplitPath("a.tar.gz", p), 0);
  EXPECT_EQ(p.drive + "|" + p.fileName + "|" + p.extension, "|a.tar|.gz");

  EXPECT_EQ(JoinPath("C:\\a", "b.nsf"), "C:\\a\\b.nsf");
  EXPECT_EQ(JoinPath("C:\\a\\", "\\b.nsf"), "C:\\a\\b.nsf");
  EXPECT_EQ(JoinPath("C:\\", "logs"), "C:\\logs");
}

}  // namespace
