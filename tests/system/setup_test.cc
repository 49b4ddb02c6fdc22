// arkctl setup on simulated hosts whose Domino is installed but whose ark
// settings are not: per layout and answers, the exit code, what it says,
// what it wrote (nothing when it refused), and the verdict of --check after.
#include <filesystem>

#include "platform/profile.h"
#include "platform/registry.h"
#include "tests/system/system_host.h"

namespace ark::systest {

namespace {

namespace fs = std::filesystem;

struct SetupRow {
  std::string name;
  int partitions;
  std::string translogPath;
  std::vector<std::string> args;
  std::string input;  // standard input ("" : none)
  int exitCode;
  std::vector<std::string> says;
  std::string ledger;  // CHANGE_INFO_DIR afterwards ("": nothing written)
  std::string disks;   // the drive letters of the disk entries, in order
  std::string store;   // the end of SnapshotStore's host path ("": none)
  std::string handLedger = "";  // CHANGE_INFO_DIR written by hand before --check
  std::vector<std::string> checkSays = {};  // --check: sound (exit 0) only after setup wrote, untouched
};

class SetupTest : public ::testing::TestWithParam<SetupRow> {};

std::string Setting(const char* key) {
  std::string value;
  platform::GetPrivateProfileString("NOTES", key, "", value, 256, "C:\\Windows\\ark.ini");
  return value;
}

std::string DiskLetters() {
  std::string letters;
  for (const std::string& disk : platform::RegEnumSubKeys("SOFTWARE\\ark\\Snapshot Component\\Disks")) {
    std::string text;
    platform::RegGetString("SOFTWARE\\ark\\Snapshot Component\\Disks\\" + disk, "DriveLetters", text);
    letters += text;
  }
  return letters;
}

TEST_P(SetupTest, WritesWhatTheRunsNeedOrNothing) {
  const SetupRow& row = GetParam();
  SystemHost host;
  Shape shape;
  shape.backend = "none", shape.partitions = row.partitions, shape.databases = 2, shape.sizeMib = "1";
  shape.translogPath = row.translogPath, shape.startService = false;
  ASSERT_TRUE(host.Install(shape));
  fs::remove(host.root() + "/Windows/ark.ini");  // a host where ark was never set up

  std::string command = "'" + ProgramBesideTest("arkctl") + "' setup --root '" + host.root() + "'";
  for (const std::string& arg : row.args) command += " '" + arg + "'";
  if (!row.input.empty()) command = "printf '" + row.input + "' | " + command;
  const Result run = RunProgram({"/bin/sh", "-c", command});
  EXPECT_EQ(run.exitCode, row.exitCode) << run.out;
  EXPECT_TRUE(Says(run.out, row.says));

  EXPECT_EQ(Setting("CHANGE_INFO_DIR"), row.ledger);
  EXPECT_EQ(Setting("CONFIGWIZ"), row.ledger.empty() ? "" : "1");
  EXPECT_EQ(DiskLetters(), row.disks);
  std::string store;
  platform::RegGetString("SOFTWARE\\ark\\Snapshot Component", "SnapshotStore", store);
  EXPECT_TRUE(row.store.empty() ? store.empty() : store.size() > row.store.size() && store.ends_with(row.store))
      << store;
  if (!row.ledger.empty()) {
    EXPECT_TRUE(fs::is_directory(host.HostPath(row.ledger)));
    std::string reports;
    platform::RegGetString("SOFTWARE\\Corvane\\Arkhold for Domino 1.0\\Client", "ReportFolder", reports);
    for (const char* type : {"Configure", "Backup", "Restore", "Delete Snapshot"})
      EXPECT_TRUE(fs::is_directory(host.HostPath(reports) + "/" + type)) << reports << " " << type;
  }

  if (!row.handLedger.empty())
    platform::WritePrivateProfileString("NOTES", "CHANGE_INFO_DIR", row.handLedger, "C:\\Windows\\ark.ini");
  const Result check = host.Ctl({"setup", "--root", host.root(), "--check"});
  EXPECT_EQ(check.exitCode, row.ledger.empty() || !row.handLedger.empty() ? 1 : 0) << check.out;
  EXPECT_TRUE(Says(check.out, row.checkSays));
}

const char kLedgerOnData[] = "lies on drive D:, the data volume of server srv1/Org";

INSTANTIATE_TEST_SUITE_P(
    Layouts, SetupTest,
    ::testing::Values(
        SetupRow{"scripted", 0, "absolute",
                 {"--ledger", "L:\\ArkLedger", "--reports", "L:\\ArkReports", "--store", "L:\\Snapshots", "--backend",
                  "dir", "--yes"},
                 "", 0, {"CHANGE_INFO_DIR=L:\\ArkLedger in C:\\Windows\\ark.ini", "MiB free", "setup complete"},
                 "L:\\ArkLedger", "DE", "/volumes/L/Snapshots", "",
                 {"ok   CHANGE_INFO_DIR", "ok   data volume          D: - volume vol_d", "CONFIGWIZ set"}},
        SetupRow{"interactive_defaults_partitioned", 2, "absolute", {}, "\\n\\n\\n\\ny\\n", 0,
                 {"srv1/Org", "srv2/Org", "ArkLedger folder (CHANGE_INFO_DIR) [L:\\ArkLedger]"}, "L:\\ArkLedger", "DE", ""},
        SetupRow{"logs_on_the_data_drive", 0, "relative", {"--yes"}, "", 0, {}, "L:\\ArkLedger", "D", ""},
        SetupRow{"ledger_on_data_volume_refused", 0, "absolute", {"--ledger", "D:\\ArkLedger", "--yes"}, "", 2,
                 {kLedgerOnData}, "", "", "", "", {"BAD  CHANGE_INFO_DIR", "BAD  snapshot component"}},
        SetupRow{"store_on_data_volume_refused", 0, "absolute", {"--store", "D:\\Snapshots", "--yes"}, "", 2,
                 {"the snapshot store D:\\Snapshots lies on drive D:, the data volume of server srv1/Org"}, "", "", ""},
        SetupRow{"drive_missing_refused", 0, "absolute", {"--ledger", "S:\\ArkLedger", "--yes"}, "", 2,
                 {"drive S:, which this host does not have"}, "", "", ""},
        SetupRow{"interactive_refused_then_default", 0, "absolute", {}, "D:\\\\Ledger\\n\\n\\n\\n\\ny\\n", 0,
                 {"refused: ERROR: The ArkLedger directory D:\\Ledger (CHANGE_INFO_DIR) lies on drive D:"},
                 "L:\\ArkLedger", "DE", ""},
        SetupRow{"not_confirmed", 0, "absolute", {}, "\\n\\n\\n\\nn\\n", 1, {"not confirmed; nothing written"}, "", "", ""},
        SetupRow{"ledger_moved_by_hand_onto_data", 0, "absolute", {"--yes"}, "", 0, {}, "L:\\ArkLedger", "DE", "",
                 "D:\\ArkLedger", {"BAD  CHANGE_INFO_DIR      D:\\ArkLedger", kLedgerOnData}}),
    [](const auto& info) { return info.param.name; });

}  // namespace

}  // namespace ark::systest
