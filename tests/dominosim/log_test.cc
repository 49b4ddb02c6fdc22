// Pages, logging, extent roll-over and the archive hand-off.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "dominosim/database.h"
#include "dominosim/log_reader.h"
#include "dominosim/page_fill.h"
#include "dominosim/sim_api.h"
#include "dominosim/status.h"
#include "dominosim/txn_log.h"
#include "sim_host.h"

using namespace dominosim;
namespace fs = std::filesystem;

namespace {

struct Payload {
  std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(kPagePayload);
  explicit Payload(std::uint64_t seed) { FillBytes(bytes.data(), bytes.size(), seed); }
};

struct LogFixture : ::testing::Test {
  TempHostRoot root;
  std::string dir = root.path().string();
  std::unique_ptr<TxnLog> OpenLog(LogStyle style, std::uint32_t extentBytes = 64 * 1024) {
    LogOptions options;
    options.dir = dir + "/log";
    options.style = style;
    options.extentBytes = extentBytes;
    options.circularExtents = 3;
    std::unique_ptr<TxnLog> log;
    EXPECT_EQ(TxnLog::Open(options, log), NOERROR);
    return log;
  }
  std::unique_ptr<Database> MakeDb(TxnLog* log, const std::string& name, bool logged = true) {
    CreateParams params;
    params.dataPages = 8;
    params.logged = logged;
    if (log != nullptr) params.logId = log->logId();
    EXPECT_EQ(Database::Create(dir + "/" + name, params), NOERROR);
    DatabaseOptions options;
    options.stateDir = dir + "/state";
    options.log = log;
    std::unique_ptr<Database> db;
    EXPECT_EQ(Database::Open(dir + "/" + name, options, db), NOERROR);
    return db;
  }
  // n single-page writes, to pages 1..8 in turn when spread, else to page 1.
  static void WriteMany(Database& db, int n, bool spread = false) {
    const Payload p(5);
    for (int i = 0; i < n; ++i) {
      PageWrite w[] = {{spread ? 1 + std::uint32_t(i) % 8 : 1, p.bytes.data()}};
      ASSERT_EQ(db.Write(w, 1), NOERROR);
    }
  }
};

TEST_F(LogFixture, PagesAreWrittenLoggedAndReadBack) {
  auto log = OpenLog(LogStyle::Archive);
  auto db = MakeDb(log.get(), "a.nsf");
  Payload one(11), two(12);
  PageWrite writes[] = {{3, one.bytes.data()}, {9, two.bytes.data()}};  // 9 grows the database
  ASSERT_EQ(db->Write(writes, 2), NOERROR);
  std::uint8_t page[kPageSize];
  ASSERT_EQ(db->ReadPage(3, page), NOERROR);
  EXPECT_EQ(std::memcmp(page, one.bytes.data(), kPagePayload), 0);
  ASSERT_EQ(db->ReadPage(9, page), NOERROR);
  EXPECT_EQ(std::memcmp(page, two.bytes.data(), kPagePayload), 0);
  DbHeader header;
  ASSERT_EQ(db->ReadHeader(header), NOERROR);
  EXPECT_EQ(header.pageCount, 10u);
  EXPECT_EQ(header.lastLsn, 2u);
  // A page two past the end would leave a hole: refused, nothing written.
  PageWrite hole[] = {{11, one.bytes.data()}};
  EXPECT_EQ(db->Write(hole, 1), ERR_BAD_PAGE);
  EXPECT_EQ(db->ReadPage(10, page), ERR_BAD_PAGE);
  // The log holds both records, in order, with the page images.
  std::vector<std::uint32_t> seen;
  ExtentScan scan;
  ASSERT_EQ(ScanExtent(log->ExtentPath(1), 1, log->logId(), UINT64_MAX,
                       [&](const RecordHeader& r, const std::uint8_t* payload) {
                         seen.push_back(r.pageNo);
                         EXPECT_TRUE(PageIsSound(payload, r.pageNo));
                         return STATUS(0);
                       },
                       scan),
            NOERROR);
  EXPECT_EQ(seen, (std::vector<std::uint32_t>{3, 9}));
  // The database record is logged too.
  std::uint8_t record[kDbRecordSize];
  std::memset(record, 'r', sizeof record);
  ASSERT_EQ(db->WriteDbRecord(record), NOERROR);
  std::uint8_t back[kDbRecordSize];
  ASSERT_EQ(db->ReadDbRecord(back), NOERROR);
  EXPECT_EQ(std::memcmp(record, back, kDbRecordSize), 0);
  ASSERT_EQ(ScanExtent(log->ExtentPath(1), 1, log->logId(), UINT64_MAX, nullptr, scan), NOERROR);
  EXPECT_EQ(scan.records, 3u);
  // An unlogged database writes no records.
  auto unlogged = MakeDb(log.get(), "u.nsf", false);
  ASSERT_EQ(unlogged->Write(writes, 1), NOERROR);
  LogControl control;
  ASSERT_EQ(log->ReadControl(control), NOERROR);
  EXPECT_EQ(control.nextLsn, 4u);
}

TEST_F(LogFixture, ExtentsRollSealedAndChained) {
  auto log = OpenLog(LogStyle::Archive, 64 * 1024);
  auto db = MakeDb(log.get(), "a.nsf");
  WriteMany(*db, 100, true);
  LogControl control;
  ASSERT_EQ(log->ReadControl(control), NOERROR);
  ASSERT_GE(control.currentExtent, 6u);  // 15 records of 4 KiB fit one 64 KiB extent
  EXPECT_EQ(control.nextLsn, 101u);
  std::uint64_t expected = 1;
  for (std::uint32_t n = 1; n <= control.currentExtent; ++n) {
    ExtentScan scan;
    ASSERT_EQ(ScanExtent(log->ExtentPath(n), n, log->logId(), UINT64_MAX, nullptr, scan), NOERROR);
    EXPECT_EQ(scan.header.firstLsn, expected) << n;
    EXPECT_EQ(scan.sealed, n < control.currentExtent) << n;
    EXPECT_FALSE(scan.stoppedEarly) << n;
    expected = scan.lastLsn + 1;
  }
  EXPECT_EQ(expected, 101u);
  // Archive logging keeps every extent until it is archived.
  EXPECT_TRUE(fs::exists(log->ExtentPath(1)));
  // A scan of the wrong log or number is refused.
  ExtentScan scan;
  Id16 other = NewRandomId();
  EXPECT_EQ(ScanExtent(log->ExtentPath(2), 2, other, UINT64_MAX, nullptr, scan), ERR_LOG_FOREIGN);
  EXPECT_EQ(ScanExtent(log->ExtentPath(2), 3, log->logId(), UINT64_MAX, nullptr, scan), ERR_LOG_CORRUPT);
}

TEST_F(LogFixture, ArchivedExtentsLeaveAtRollAndCircularKeepsFew) {
  auto log = OpenLog(LogStyle::Archive, 64 * 1024);
  auto db = MakeDb(log.get(), "a.nsf");
  WriteMany(*db, 40);  // extents 1 and 2 full, 3 current
  std::uint32_t n = 0;
  ASSERT_EQ(log->NextArchivable(0, &n), NOERROR);
  EXPECT_EQ(n, 1u);
  ASSERT_EQ(log->MarkArchived(log->logId(), 1), NOERROR);
  EXPECT_EQ(log->MarkArchived(NewRandomId(), 2), ERR_LOG_FOREIGN);
  LogControl control;
  ASSERT_EQ(log->ReadControl(control), NOERROR);
  EXPECT_EQ(log->MarkArchived(log->logId(), control.currentExtent), ERR_LOG_NOT_ARCHIVABLE);
  ASSERT_EQ(log->NextArchivable(2, &n), NOERROR);
  EXPECT_EQ(n, 2u);
  EXPECT_TRUE(fs::exists(log->ExtentPath(1)));  // removed only at the next roll
  WriteMany(*db, 20);
  EXPECT_FALSE(fs::exists(log->ExtentPath(1)));
  EXPECT_TRUE(fs::exists(log->ExtentPath(2)));  // not archived: kept

  std::filesystem::remove_all(dir + "/log");
  auto circular = OpenLog(LogStyle::Circular, 64 * 1024);
  auto db2 = MakeDb(circular.get(), "c.nsf");
  WriteMany(*db2, 120);
  ASSERT_EQ(circular->ReadControl(control), NOERROR);
  int present = 0;
  for (std::uint32_t k = 1; k <= control.currentExtent; ++k) present += fs::exists(circular->ExtentPath(k));
  EXPECT_EQ(present, 3);
  EXPECT_EQ(circular->NextArchivable(0, &n), ERR_NO_MORE_LOGS);
  EXPECT_EQ(n, control.currentExtent);
}

// The archive walk through the API: full extents in order with their Windows
// paths, then 0x13DE with the current extent and the server's log id, also
// without ArchiveBegin (how the engine learns the log position).
TEST(ArchiveApi, WalkMarkAndCurrentPosition) {
  InstallOptions options;
  options.extentKiB = 32;
  simtest::SimHost host(options);
  ASSERT_TRUE(host.ok()) << host.error();
  simtest::Runtime rt(host.server().notesIni);
  ASSERT_EQ(rt.status, NOERROR);
  SimApi& api = rt.api;
  BYTE id[16];
  DWORD number = 0;
  char path[1024];
  ASSERT_EQ(api.GetFirstArchiveLog(id, &number, path), ERR_NO_MORE_LOGS);
  EXPECT_EQ(number, 1u);
  Id16 serverLog;
  std::memcpy(serverLog.data(), id, 16);
  EXPECT_NE(serverLog, Id16{});

  {
    simtest::ServerProcess server(host.root(), host.server().notesIni, "0");
    ASSERT_TRUE(server.running());
    ASSERT_TRUE(simtest::WaitForLog(host.Config().logDirHost, [](const LogControl& c) { return c.currentExtent >= 5; }));
    EXPECT_EQ(server.Stop(), 0);
  }
  ASSERT_EQ(api.ArchiveBegin(), NOERROR);
  std::vector<DWORD> walked;
  STATUS s = api.GetFirstArchiveLog(id, &number, path);
  while (s == NOERROR) {
    walked.push_back(number);
    char expected[64];
    std::snprintf(expected, sizeof expected, "E:\\Logs\\S%07u.TXN", unsigned(number));
    EXPECT_STREQ(path, expected);
    EXPECT_EQ(std::memcmp(id, serverLog.data(), 16), 0);
    if (walked.size() <= 2) {
      ASSERT_EQ(api.MarkLogArchived(id, number), NOERROR);
    }
    s = api.GetNextArchiveLog(id, &number, path);
  }
  ASSERT_EQ(s, ERR_NO_MORE_LOGS);
  ASSERT_GE(walked.size(), 4u);
  for (std::size_t i = 0; i < walked.size(); ++i) EXPECT_EQ(walked[i], i + 1);
  DWORD current = number;
  EXPECT_EQ(current, walked.back() + 1);
  EXPECT_EQ(std::memcmp(id, serverLog.data(), 16), 0);
  ASSERT_EQ(api.ArchiveEnd(), NOERROR);
  // Without a session: the first log waiting is now 3; the answer after the
  // last one is the same current extent.
  ASSERT_EQ(api.GetFirstArchiveLog(id, &number, path), NOERROR);
  EXPECT_EQ(number, 3u);
  DWORD last = 0;
  while ((s = api.GetNextArchiveLog(id, &last, path)) == NOERROR) {
  }
  EXPECT_EQ(s, ERR_NO_MORE_LOGS);
  EXPECT_EQ(last, current);
  DWORD style = 9;
  EXPECT_EQ(api.GetLoggingStyle(&style), NOERROR);
  EXPECT_EQ(style, 1u);
}

}  // namespace
