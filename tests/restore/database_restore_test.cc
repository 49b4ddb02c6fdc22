// What only a unit shows of a single-database restore (the whole-host tests
// restore real databases): a component without ark's snapshot-files
// interface refuses with its text and nothing written, and each way an
// in-place replacement can fail after its copy was recovered leaves the
// live database as it was, online, with no copy behind; what an in-place
// restore killed while its database was offline leaves is brought back.
#include "platform/eventlog.h"
#include "restore/database_restore.h"
#include "restore/database_restore_steps.h"
#include "restore/interrupted_database_restore.h"
#include "tests/restore/restore_host.h"
#include "tests/support/fake_component.h"
#include "tests/support/snapshotsvc_mount.h"
#include "tests/support/text_checks.h"

namespace ark {

using ::testing::_;
using ::testing::Return;

namespace {

TEST(DatabaseRestoreTest, AComponentThatCannotShowFilesRefusesWithNothingWritten) {
  RestoreHost host;
  ::testing::NiceMock<IdleDominoApi> domino;
  FakeComponent component;
  component.state().Add(u'D', kSnapshotName, FILETIME{1, 1});
  host.MakeRestorableSnapshot();
  WriteHostFile(host.Drive('L', "ArkLedger/srv1/hint"), std::string(kSnapshotName) + "\n");
  std::vector<platform::EventRecord> events;
  platform::SetEventObserver([&](const platform::EventRecord& event) { events.push_back(event); });
  const Names volume = snaptest::Listing(host.Drive('D'));

  DatabaseRestoreRequest request;
  request.server = MakeRequest(0).server;
  request.paths = {"a.nsf"};
  EXPECT_EQ(PerformDatabaseRestore(request), -1);
  platform::SetEventObserver(nullptr);
  const std::string refusal =
      "The snapshot component of volume D: cannot show a snapshot's files; restore the whole volume instead.";
  EXPECT_TRUE(InOrder(request.output.accumulated,
                      {"ERROR: " + refusal + "\r\n", "DATABASE RESTORE FAILED: nothing was restored.\r\n"}));
  EXPECT_EQ(snaptest::Listing(host.Drive('D')), volume);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].eventId, 0x4000006Du);
  EXPECT_EQ(events[0].strings, (Names{"single-database", kSnapshotName, "srv1/Org", refusal}));
}

// An in-place replacement of a.nsf whose copy was recovered; the runtime
// takes the database offline as a server does (its file goes) and answers
// the statuses each row gives.
struct Replacement {
  const char* name;
  STATUS offline;
  std::vector<STATUS> online;  // one per call, in order; then 0
  std::size_t onlineCalls;
  std::string live;            // a.nsf afterwards
  std::string failure;         // part of the database's failure ("" restored)
  bool kept;                   // the -before-restore copy stays
};
void PrintTo(const Replacement& row, std::ostream* os) { *os << row.name; }

class InPlaceTest : public ::testing::TestWithParam<Replacement> {};

TEST_P(InPlaceTest, LeavesTheLiveDatabaseAsItWasOrReplaced) {
  const Replacement& row = GetParam();
  RestoreHost host;
  ::testing::NiceMock<IdleDominoApi> domino;
  ON_CALL(domino, GetChangeInfo(_, _, _, _, _, _)).WillByDefault([](DBHANDLE, DWORD, DWORD, void*, DWORD, DWORD* n) {
    *n = 0;
    return STATUS(0);
  });
  ON_CALL(domino, TakeDatabaseOffline(_, _, _)).WillByDefault([&](const char*, DWORD, DWORD) {
    if (row.offline == 0) std::filesystem::remove(host.Drive('D', "Domino/Data/a.nsf"));
    return row.offline;
  });
  std::size_t onlineCalls = 0;
  ON_CALL(domino, BringDatabaseOnline(_, _)).WillByDefault([&](const char*, DWORD) {
    return onlineCalls < row.online.size() ? row.online[onlineCalls++] : (++onlineCalls, STATUS(0));
  });
  WriteHostFile(host.Drive('D', "Domino/Data/a.nsf"), "live");
  WriteHostFile(host.Drive('D', "Domino/Data/a.ark-restoring.nsf"), "restored");

  RestoreRequest run;
  run.server = MakeRequest(0).server;
  DatabaseRestoreRequest request;
  request.placement = kPlaceInPlace;
  dbrestore::Choice choice;
  dbrestore::Item& item = choice.items.emplace_back();
  item.relative = "a.nsf";
  item.live = item.target = "D:\\Domino\\Data\\a.nsf";
  item.temporary = "D:\\Domino\\Data\\a.ark-restoring.nsf";
  item.keep = "D:\\Domino\\Data\\restore\\a-before-restore.nsf";
  {
    dbrestore::Leftovers leftovers;
    leftovers.Add(item.temporary);
    dbrestore::PlaceCopies(run, request, choice, leftovers);
  }
  EXPECT_EQ(ReadHostFile(host.Drive('D', "Domino/Data/a.nsf")), row.live);
  EXPECT_NE(item.failure.find(row.failure), std::string::npos) << item.failure;
  EXPECT_EQ(item.failure.empty(), row.failure.empty());
  EXPECT_EQ(onlineCalls, row.onlineCalls);
  Names left{"a.nsf=" + row.live};
  if (row.kept) left.insert(left.end(), {"restore/", "restore/a-before-restore.nsf=live"});
  EXPECT_EQ(snaptest::Listing(host.Drive('D', "Domino/Data")), left);
  // The journal names an offline database to the next run only while it is not back.
  const std::string journalPath = "L:\\ArkLedger\\$restore_journal\\srv1";
  RestoreJournal journal;
  const bool journalLeft = ReadRestoreJournal(journalPath, journal) == ERROR_SUCCESS;
  EXPECT_EQ(journalLeft, row.kept && !row.failure.empty());
  if (journalLeft) {  // the next run says what is in place: the database as it was
    std::string errorText;
    EXPECT_EQ(FinishInterruptedDatabaseRestore(run, journalPath, journal, errorText), 0) << errorText;
    EXPECT_TRUE(Has(run.output.accumulated, "The database is online as it was before that restore.\r\n"))
        << run.output.accumulated;
    EXPECT_EQ(snaptest::Listing(host.Drive('D', "Domino/Data")), (Names{"a.nsf=live", "restore/"}));
  }
}

const Replacement kReplacements[] = {
    {"Replaced", 0, {}, 1, "restored", "", true},
    {"OfflineRefused", 0x0123, {}, 0, "live", "could not be taken offline (Domino status 0x0123); it was not changed", false},
    {"OnlineRefusedOnce", 0, {0x0124}, 2, "live",
     "could not be brought online: Domino status 0x0124; the live database is back as it was and online", false},
    {"PutBackRefused", 0, {0x0124, 0x0125}, 2, "live",
     "the live database could not be put back (Domino status 0x0125): it is kept as D:\\Domino\\Data\\restore\\a-before-restore.nsf",
     true},
};
INSTANTIATE_TEST_SUITE_P(Rows, InPlaceTest, ::testing::ValuesIn(kReplacements),
                         [](const auto& info) { return std::string(info.param.name); });

// A database that could not be put back keeps its journal for the next run:
// a later database of the same run is not replaced over it (the journal has
// room for one), so that the next restore still finds the first offline.
TEST(DatabaseRestoreTest, AJournalThatMustStayIsNeverWrittenOverByTheNextDatabase) {
  RestoreHost host;
  ::testing::NiceMock<IdleDominoApi> domino;
  ON_CALL(domino, GetChangeInfo(_, _, _, _, _, _)).WillByDefault([](DBHANDLE, DWORD, DWORD, void*, DWORD, DWORD* n) {
    *n = 0;
    return STATUS(0);
  });
  ON_CALL(domino, TakeDatabaseOffline(_, _, _)).WillByDefault([&](const char* path, DWORD, DWORD) {
    const std::string live = path;  // its file goes, as a server lets it go
    std::filesystem::remove(host.Drive('D', "Domino/Data/" + live.substr(live.rfind('\\') + 1)));
    return STATUS(0);
  });
  int onlineCalls = 0;  // a.nsf: online refused, then its put-back refused
  ON_CALL(domino, BringDatabaseOnline(_, _)).WillByDefault([&](const char*, DWORD) {
    return ++onlineCalls <= 2 ? STATUS(0x0124) : STATUS(0);
  });
  RestoreRequest run;
  run.server = MakeRequest(0).server;
  DatabaseRestoreRequest request;
  request.placement = kPlaceInPlace;
  dbrestore::Choice choice;
  const std::string d = "D:\\Domino\\Data\\";
  for (const std::string name : {"a", "b"}) {
    WriteHostFile(host.Drive('D', "Domino/Data/" + name + ".nsf"), "live " + name);
    WriteHostFile(host.Drive('D', "Domino/Data/" + name + ".ark-restoring.nsf"), "restored " + name);
    dbrestore::Item& item = choice.items.emplace_back();
    item.relative = name + ".nsf";
    item.live = item.target = d + name + ".nsf";
    item.temporary = d + name + ".ark-restoring.nsf";
    item.keep = d + "restore\\" + name + "-before-restore.nsf";
  }
  {
    dbrestore::Leftovers leftovers;
    for (const dbrestore::Item& item : choice.items) leftovers.Add(item.temporary);
    dbrestore::PlaceCopies(run, request, choice, leftovers);
  }
  EXPECT_TRUE(Has(choice.items[0].failure, "the next restore of the server tries again")) << choice.items[0].failure;
  EXPECT_TRUE(Has(choice.items[1].failure, "; the live database was not changed")) << choice.items[1].failure;
  EXPECT_EQ(ReadHostFile(host.Drive('D', "Domino/Data/b.nsf")), "live b");
  RestoreJournal journal;
  ASSERT_EQ(ReadRestoreJournal("L:\\ArkLedger\\$restore_journal\\srv1", journal), ERROR_SUCCESS);
  EXPECT_EQ(journal.database, d + "a.nsf");
  EXPECT_EQ(journal.keptDatabase, d + "restore\\a-before-restore.nsf");
}

// What a killed in-place restore left (the files of the live path, the
// restored copy and the kept copy), and what the next run makes of it.
struct Leftover {
  const char *name, *live, *restored;  // the files left ("" none)
  STATUS firstOpen;                    // of the database in its place
  const char* after;                   // a.nsf afterwards
  bool keptStays;
  const char* says;
  bool puttingBack = false;            // the journal names no restored copy: the kept one was going back
};
void PrintTo(const Leftover& row, std::ostream* os) { *os << row.name; }

class InterruptedInPlaceTest : public ::testing::TestWithParam<Leftover> {};

TEST_P(InterruptedInPlaceTest, BringsTheDatabaseBackOnlineAndOpening) {
  const Leftover& row = GetParam();
  RestoreHost host;
  ::testing::NiceMock<IdleDominoApi> domino;
  int opens = 0;
  ON_CALL(domino, OpenDatabase(_, _)).WillByDefault([&](const char*, DBHANDLE*) { return opens++ ? 0 : row.firstOpen; });
  EXPECT_CALL(domino, BringDatabaseOnline(_, _)).Times(::testing::AtLeast(1));
  if (*row.live) WriteHostFile(host.Drive('D', "Domino/Data/a.nsf"), row.live);
  if (*row.restored) WriteHostFile(host.Drive('D', "Domino/Data/a.ark-restoring.nsf"), row.restored);
  WriteHostFile(host.Drive('D', "Domino/Data/restore/a-before-restore.nsf"), "kept");
  RestoreRequest run;
  run.server = MakeRequest(0).server;
  const std::string path = "L:\\ArkLedger\\$restore_journal\\srv1";
  const std::string d = "D:\\Domino\\Data\\";
  RestoreJournal journal{"srv1/Org", kSnapshotName, kSingleDatabaseKind, "t", "E:\\Logs", "", RestoreStep::DatabaseOffline,
                         {}, d + "a.nsf", d + "restore\\a-before-restore.nsf",
                         row.puttingBack ? "" : d + "a.ark-restoring.nsf"};
  ASSERT_EQ(WriteRestoreJournal(path, journal), ERROR_SUCCESS);
  std::string errorText;
  EXPECT_EQ(FinishInterruptedDatabaseRestore(run, path, journal, errorText), 0) << errorText;
  EXPECT_TRUE(InOrder(run.output.accumulated,
                      {"Found an interrupted restore:\r\nThe SINGLE DATABASE restore of server srv1/Org", row.says,
                       "The interrupted restore is finished; going on with this one.\r\n"}));
  Names left{"a.nsf=" + std::string(row.after), "restore/"};
  if (row.keptStays) left.push_back("restore/a-before-restore.nsf=kept");
  EXPECT_EQ(snaptest::Listing(host.Drive('D', "Domino/Data")), left);
  EXPECT_FALSE(std::filesystem::exists(host.Drive('L', "ArkLedger/$restore_journal")));
}

const Leftover kLeftovers[] = {
    {"OfflineWithoutItsFile", "", "restored", 0, "restored", true, "the restored copy took its place.\r\n"},
    {"OfflineNoCopy", "", "", 0, "kept", false, "its kept copy went back.\r\n"},
    {"NotReplaced", "live", "restored", 0, "live", true, "had not been replaced.\r\n"},
    {"Replaced", "restored", "", 0, "restored", true, "had been replaced by the restored copy.\r\n"},
    {"PartialInItsPlace", "resto", "", 0x0103, "kept", false, "); its kept copy went back.\r\n"},
    // Died putting the kept copy back, before the restored copy in its place went.
    {"PuttingBack", "restored", "", 0, "kept", false, "was being put back as it was; its kept copy went back.\r\n", true},
};
INSTANTIATE_TEST_SUITE_P(Rows, InterruptedInPlaceTest, ::testing::ValuesIn(kLeftovers),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

}  // namespace ark
