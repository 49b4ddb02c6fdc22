// The rules of a single-database restore: the moment a user names (a local
// time of the host), the paths and the folder below the data directory with
// what each refusal says, and the recovery flags of each case.
#include <gtest/gtest.h>

#include "platform/clock.h"
#include "restore/database_restore_plan.h"
#include "tests/support/temp_host.h"

namespace ark {

namespace {

using namespace dbrestore;

// Central European time: winter UTC+1, summer UTC+2.
class DatabaseRestorePlanTest : public ::testing::Test {
 protected:
  TempHostRoot host{HostOptions{"D", "", "", "", "CET-1CEST,M3.5.0,M10.5.0/3"}};
};

FILETIME Utc(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
  SYSTEMTIME t;
  t.wYear = year, t.wMonth = month, t.wDay = day, t.wHour = hour, t.wMinute = minute, t.wSecond = second;
  FILETIME out{};
  EXPECT_TRUE(platform::SystemTimeToFileTime(t, out));
  return out;
}

TEST_F(DatabaseRestorePlanTest, MomentsAreLocalTimesOfTheHost) {
  const struct {
    const char* text;
    bool valid;
    FILETIME utc;
  } rows[] = {
      {"2026-01-15 10:30:05", true, Utc(2026, 1, 15, 9, 30, 5)},
      {"2026-07-15 10:30:05", true, Utc(2026, 7, 15, 8, 30, 5)},
      {"2024-02-29 00:00:00", true, Utc(2024, 2, 28, 23, 0, 0)},
      {"2026-02-29 00:00:00", false, {}},
      {"2026-13-01 00:00:00", false, {}},
      {"2026-01-15 24:00:00", false, {}},
      {"2026-01-15 10:30", false, {}},
      {"2026-1-15 10:30:05", false, {}},
      {"2026-01-15T10:30:05", false, {}},
      {"2026-01-15 10:30:05 ", false, {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    FILETIME utc{};
    ASSERT_EQ(ParseMoment(row.text, utc), row.valid);
    if (!row.valid) continue;
    EXPECT_EQ(platform::CompareFileTime(utc, row.utc), 0);
    EXPECT_EQ(MomentText(utc), row.text);
  }
  // The runtime's text: a time inside a second counts to the end of it.
  FILETIME inside = Utc(2026, 1, 15, 9, 30, 5);
  inside.dwLowDateTime += 1;
  EXPECT_EQ(RuntimeTimeText(inside), "1/15/2026 10:30:06");
  EXPECT_EQ(RuntimeTimeText(Utc(2026, 7, 15, 8, 30, 5)), "7/15/2026 10:30:05");
}

TEST_F(DatabaseRestorePlanTest, PathsStayBelowTheDataDirectory) {
  const struct {
    const char* text;
    const char* relative;  // "" when refused
    const char* reason;    // part of the refusal
  } rows[] = {
      {"mail\\jdoe.nsf", "mail\\jdoe.nsf", ""},
      {"mail/sub/JDOE.NSF", "mail\\sub\\JDOE.NSF", ""},
      {"mail\\", "mail\\", ""},
      {"", "", "empty path"},
      {"\\mail\\jdoe.nsf", "", "absolute"},
      {"D:\\Domino\\Data\\mail\\jdoe.nsf", "", "drive"},
      {"d:jdoe.nsf", "", "drive"},
      {"mail\\..\\..\\names.nsf", "", "\"..\""},
      {"mail\\.\\jdoe.nsf", "", "\".\""},
      {"mail\\\\jdoe.nsf", "", "empty name"},
      {"mail\\jdoe.txt", "", "not a database"},
      {"mail\\jdoe", "", "not a database"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    DatabasePath path;
    const std::string reason = ReadDatabasePath(row.text, path);
    EXPECT_NE(reason.find(row.reason), std::string::npos) << reason;
    EXPECT_EQ(reason.empty(), *row.relative != '\0');
    if (!reason.empty()) continue;
    EXPECT_EQ(path.relative, row.relative);
    EXPECT_EQ(path.folder, path.relative.back() == '\\');
  }
  std::string folder;
  EXPECT_EQ(ReadRestoreFolder("", folder), "");
  EXPECT_EQ(folder, "restore");
  EXPECT_EQ(ReadRestoreFolder("old/copies/", folder), "");
  EXPECT_EQ(folder, "old\\copies");
  for (const char* refused : {"..", "restore\\..\\..", "E:\\restore", "\\restore"}) {
    EXPECT_NE(ReadRestoreFolder(refused, folder), "") << refused;
  }
  const std::string data = "D:\\Domino\\Data";
  EXPECT_EQ(TargetPath(data, folder, "mail\\jdoe.nsf"), "D:\\Domino\\Data\\old\\copies\\mail\\jdoe.nsf");
  EXPECT_EQ(BeforeRestorePath(data, "mail\\jdoe.nsf"), "D:\\Domino\\Data\\restore\\mail\\jdoe-before-restore.nsf");
  EXPECT_EQ(BeforeRestorePath(data, "my.mail\\jdoe.nsf"), "D:\\Domino\\Data\\restore\\my.mail\\jdoe-before-restore.nsf");
  EXPECT_EQ(TemporaryPath("D:\\Data\\restore\\jdoe.nsf"), "D:\\Data\\restore\\jdoe.ark-restoring.nsf");
}

TEST_F(DatabaseRestorePlanTest, RecoveryFlagsOfEachCase) {
  const struct {
    std::uint32_t target;
    bool newReplicaId;
    DWORD flags;  // ZAP_ID 0x02, POINT_IN_TIME 0x08, ZAP_REPLICAID 0x10
  } rows[] = {
      {kRestoreToSnapshotTime, false, 0x0A}, {kRestoreToSnapshotTime, true, 0x1A},
      {kRestoreUpToTheMinute, false, 0x02},  {kRestoreUpToTheMinute, true, 0x12},
      {kRestoreToMoment, false, 0x0A},       {kRestoreToMoment, true, 0x1A},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(RecoveryFlags(row.target, row.newReplicaId), row.flags) << row.target << " " << row.newReplicaId;
  }
}

}  // namespace

}  // namespace ark
