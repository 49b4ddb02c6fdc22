// Pages, logging, extent roll-over and archiving; damaged database files,
// log files and change-information streams, refused with a status and
// nothing crashing or changed.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <vector>

#include "dominosim/change_stream.h"
#include "dominosim/database.h"
#include "dominosim/digest.h"
#include "dominosim/log_reader.h"
#include "dominosim/page_fill.h"
#include "dominosim/status.h"
#include "dominosim/txn_log.h"
#include "tests/support/temp_host.h"

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
  LogOptions LogOpts(LogStyle style, std::uint32_t extentBytes) {
    LogOptions options;
    options.dir = dir + "/log";
    options.style = style;
    options.extentBytes = extentBytes;
    options.circularExtents = 3;
    return options;
  }
  std::unique_ptr<TxnLog> OpenLog(LogStyle style, std::uint32_t extentBytes = 64 * 1024) {
    std::unique_ptr<TxnLog> log;
    EXPECT_EQ(TxnLog::Open(LogOpts(style, extentBytes), log), NOERROR);
    return log;
  }
  DatabaseOptions Options(TxnLog* log = nullptr) {
    DatabaseOptions o;
    o.stateDir = dir + "/state";
    o.log = log;
    return o;
  }
  // A database of 8 data pages, logged to log when given; its path.
  std::string Create(const std::string& name, TxnLog* log = nullptr, bool logged = true) {
    CreateParams params;
    params.dataPages = 8;
    params.logged = logged;
    if (log != nullptr) params.logId = log->logId();
    EXPECT_EQ(Database::Create(dir + "/" + name, params), NOERROR);
    return dir + "/" + name;
  }
  std::unique_ptr<Database> MakeDb(TxnLog* log, const std::string& name, bool logged = true) {
    std::unique_ptr<Database> db;
    EXPECT_EQ(Database::Open(Create(name, log, logged), Options(log), db), NOERROR);
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
  STATUS Apply(const std::string& target, const std::string& stream, std::uint64_t declared,
               std::size_t chunk = 1000) {
    std::unique_ptr<ChangeApplier> applier;
    STATUS s = ChangeApplier::Start(target, 0, declared, applier);
    for (std::size_t off = 0; s == NOERROR && off < stream.size(); off += chunk) {
      s = applier->Feed(stream.data() + off, std::min(chunk, stream.size() - off));
    }
    return s == NOERROR ? applier->Finish() : s;
  }
};

TEST_F(LogFixture, PagesAreLoggedAndExtentsRollSealedAndChained) {
  auto log = OpenLog(LogStyle::Archive, 64 * 1024);
  auto db = MakeDb(log.get(), "a.nsf");
  Payload one(11), two(12);
  PageWrite writes[] = {{3, one.bytes.data()}, {9, two.bytes.data()}};  // 9 grows the database
  const std::uint64_t before = platform::kit::NowFileTime();
  ASSERT_EQ(db->Write(writes, 2), NOERROR);
  std::uint8_t page[kPageSize];
  ASSERT_EQ(db->ReadPage(9, page), NOERROR);
  EXPECT_EQ(std::memcmp(page, two.bytes.data(), kPagePayload), 0);
  DbHeader header;
  ASSERT_EQ(db->ReadHeader(header), NOERROR);
  EXPECT_EQ(header.pageCount, 10u);
  EXPECT_EQ(header.lastLsn, 3u);  // two pages and the commit
  EXPECT_GE(header.lastCommit, before);
  EXPECT_LE(header.lastCommit, platform::kit::NowFileTime());
  // A page two past the end would leave a hole: refused, nothing written.
  PageWrite hole[] = {{11, one.bytes.data()}};
  EXPECT_EQ(db->Write(hole, 1), ERR_BAD_PAGE);
  EXPECT_EQ(db->ReadPage(10, page), ERR_BAD_PAGE);
  // An unlogged database logs nothing; 98 more records roll the extents.
  auto unlogged = MakeDb(log.get(), "u.nsf", false);
  ASSERT_EQ(unlogged->Write(writes, 1), NOERROR);
  WriteMany(*db, 98, true);
  LogControl control;
  ASSERT_EQ(log->ReadControl(control), NOERROR);
  ASSERT_GE(control.currentExtent, 6u);  // 15 records of 4 KiB fit one 64 KiB extent
  EXPECT_EQ(control.nextLsn, 200u);      // 99 transactions, each with its commit
  ExtentScan scan;
  ASSERT_EQ(ScanExtent(log->ExtentPath(1), 1, log->logId(), UINT64_MAX, nullptr, scan), NOERROR);
  EXPECT_TRUE(scan.sealed && !scan.stoppedEarly);
  // The last transaction (a page and its commit) counts only with its commit record whole.
  const std::string current = ReadHostFile(log->ExtentPath(control.currentExtent));
  for (std::size_t cut : {std::size_t(0), std::size_t(1), kRecordHeaderSize + kCommitPayloadSize}) {
    WriteHostFile(dir + "/cut.TXN", current.substr(0, current.size() - cut));
    ASSERT_EQ(ScanExtent(dir + "/cut.TXN", control.currentExtent, log->logId(), UINT64_MAX, nullptr, scan), NOERROR);
    EXPECT_EQ(scan.lastLsn, control.nextLsn - (cut == 0 ? 1 : 3)) << cut;
  }
  // A scan of the wrong log or number is refused.
  EXPECT_EQ(ScanExtent(log->ExtentPath(2), 2, NewRandomId(), UINT64_MAX, nullptr, scan), ERR_LOG_FOREIGN);
  EXPECT_EQ(ScanExtent(log->ExtentPath(2), 3, log->logId(), UINT64_MAX, nullptr, scan), ERR_LOG_CORRUPT);

  // Damage anywhere in a sealed extent: refused, or read only up to the damage.
  const std::string extent = ReadHostFile(log->ExtentPath(1));
  std::mt19937 rng(3);
  for (int i = 0; i < 300; ++i) {
    std::string mutated = extent;
    std::size_t at = rng() % mutated.size();
    mutated[at] = char(mutated[at] ^ (1 + rng() % 255));
    if (i % 3 == 0) mutated.resize(rng() % mutated.size());
    WriteHostFile(dir + "/fuzz.TXN", mutated);
    STATUS s = ScanExtent(dir + "/fuzz.TXN", 1, log->logId(), UINT64_MAX, nullptr, scan);
    if (s == NOERROR) {
      EXPECT_TRUE(scan.stoppedEarly || !scan.sealed || mutated.size() == extent.size()) << at;
    } else {
      EXPECT_TRUE(s == ERR_LOG_CORRUPT || s == ERR_LOG_FOREIGN) << s;
    }
  }
  // A damaged control file: the log cannot be opened, and is never replaced by a new one.
  log.reset();
  db.reset();
  WriteHostFile(dir + "/log/SIMLOG.CTL", std::string(128, '\x01'));
  LogOptions options = LogOpts(LogStyle::Archive, 64 * 1024);
  EXPECT_EQ(TxnLog::Open(options, log), ERR_LOG_NOT_FOUND);
  options.create = false;
  EXPECT_EQ(TxnLog::Open(options, log), ERR_LOG_NOT_FOUND);
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

  fs::remove_all(dir + "/log");
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

// A database file damaged in one way: refused by the open and the digest;
// a damaged data page opens, and its read and the digest name it.
struct DbDamage { const char* what; std::string (*damage)(std::string good); STATUS expected; };
void PrintTo(const DbDamage& c, std::ostream* os) { *os << c.what; }
const DbDamage kDbDamage[] = {
    {"Empty", [](std::string) { return std::string(); }, ERR_NOT_DATABASE},
    {"CutInTheHeader", [](std::string b) { return b.substr(0, 100); }, ERR_DB_CORRUPT},
    {"HeaderPageAlone", [](std::string b) { return b.substr(0, 4096); }, ERR_DB_CORRUPT},
    {"CutInTheLastPage", [](std::string b) { return b.substr(0, b.size() - 10); }, ERR_DB_CORRUPT},
    {"FlippedHeaderBit", [](std::string b) { b[100] ^= 0x40; return b; }, ERR_DB_CORRUPT},
    {"OtherVersion", [](std::string b) { b[8] = 9; return b; }, ERR_DB_CORRUPT},
    {"NotADatabase", [](std::string) { return std::string(9000, 'x'); }, ERR_NOT_DATABASE},
    {"GarbledPage3", [](std::string b) { b[3 * kPageSize + 17] ^= 1; return b; }, NOERROR},
};
struct DamagedDb : LogFixture, ::testing::WithParamInterface<DbDamage> {};

TEST_P(DamagedDb, DatabaseFilesAreRefused) {
  const DbDamage& c = GetParam();
  const std::string path = dir + "/bad.nsf";
  WriteHostFile(path, c.damage(ReadHostFile(Create("good.nsf"))));
  std::unique_ptr<Database> db;
  EXPECT_EQ(Database::Open(path, Options(), db), c.expected);
  std::string hex;
  EXPECT_EQ(DigestDatabase(path, dir + "/state", &hex), c.expected == NOERROR ? ERR_DB_CORRUPT : c.expected);
  if (c.expected != NOERROR) return;
  std::uint8_t page[kPageSize];
  EXPECT_EQ(db->ReadPage(3, page), ERR_DB_CORRUPT);
  EXPECT_EQ(db->ReadPage(2, page), NOERROR);
}
INSTANTIATE_TEST_SUITE_P(Rows, DamagedDb, ::testing::ValuesIn(kDbDamage));

// Change information damaged in one way and applied with the size it declares,
// or applied where it does not belong: refused with the row's status, nothing
// written; the whole stream, fed byte by byte, applies afterwards.
// declareDamaged: the damaged size is declared, else the stream's own; damage null: the stream as read.
struct StreamDamage { const char* what; std::string (*damage)(std::string); bool declareDamaged; STATUS expected;
                      const char* target = "target.nsf"; };
void PrintTo(const StreamDamage& c, std::ostream* os) { *os << c.what; }
const StreamDamage kStreamDamage[] = {
    {"CutByOneByte", [](std::string s) { s.pop_back(); return s; }, false, ERR_CHANGE_TRUNCATED},
    {"CutInTheFirstEntry", [](std::string s) { return s.substr(0, 5000); }, false, ERR_CHANGE_TRUNCATED},
    {"CutWithMatchingSizeWords", [](std::string s) { return s.substr(0, 5000); }, true, ERR_CHANGE_CORRUPT},
    {"LongerThanDeclared", [](std::string s) { return s + "x"; }, false, ERR_CHANGE_TOO_LONG},
    {"BytesAfterTheTrailer", [](std::string s) { return s + "x"; }, true, ERR_CHANGE_CORRUPT},
    {"Garbage", [](std::string s) { return std::string(s.size(), '\x7f'); }, false, ERR_CHANGE_CORRUPT},
    {"NoChangeInformation", [](std::string) { return std::string(); }, true, NOERROR},
    {"AnotherDatabase", nullptr, false, ERR_CHANGE_OTHER_DB, "other.nsf"},
    {"TargetNotADatabase", nullptr, false, ERR_NOT_DATABASE, "plain.nsf"},
    {"TargetMissing", nullptr, false, ERR_FILE_NOT_FOUND, "none.nsf"},
};

// A target copied from a database before a backup of it; the change
// information of the backup, during which pages 2 and 9 (new) were written,
// read after page 2 was written again; atStop: the database as the backup stopped.
struct Damaged : LogFixture, ::testing::WithParamInterface<StreamDamage> {
  std::string source = Create("source.nsf"), target = dir + "/target.nsf", stream, atStop, before;
  void SetUp() override {
    fs::copy_file(source, target);
    std::unique_ptr<Database> db;
    ASSERT_EQ(Database::Open(source, Options(), db), NOERROR);
    DWORD ctx = 0, length = 0;
    ASSERT_EQ(db->BackupStart(&ctx), NOERROR);
    const Payload payload(99), later(100);
    PageWrite w[] = {{2, payload.bytes.data()}, {9, payload.bytes.data()}};
    ASSERT_EQ(db->Write(w, 2), NOERROR);
    ASSERT_EQ(db->BackupStop(ctx), NOERROR);
    atStop = ReadHostFile(source);
    w[0].payload = later.bytes.data();
    ASSERT_EQ(db->Write(w, 1), NOERROR);
    stream.resize(64 * 1024);
    ASSERT_EQ(db->ReadChangeInfo(ctx, stream.data(), DWORD(stream.size()), &length), NOERROR);
    stream.resize(length);
    ASSERT_EQ(db->BackupEnd(ctx, false), NOERROR);
    ASSERT_EQ(stream.size(), ChangeStreamSize(3));  // header page, 2 and 9
    before = ReadHostFile(target);
    Create("other.nsf");
    WriteHostFile(dir + "/plain.nsf", "not a database");
  }
  void ExpectUntouched(const std::string& into) {
    EXPECT_EQ(ReadHostFile(target), before);
    EXPECT_FALSE(fs::exists(into + ".dsim-apply"));
  }
};

TEST_P(Damaged, ChangeStreamsAreRefusedAndTargetUntouched) {
  const StreamDamage& c = GetParam();
  const std::string damaged = c.damage != nullptr ? c.damage(stream) : stream, into = dir + "/" + c.target;
  EXPECT_EQ(Apply(into, damaged, c.declareDamaged ? damaged.size() : stream.size()), c.expected);
  ExpectUntouched(into);
  ASSERT_EQ(Apply(target, stream, stream.size(), 1), NOERROR);
  EXPECT_EQ(ReadHostFile(target), atStop);
}
INSTANTIATE_TEST_SUITE_P(Rows, Damaged, ::testing::ValuesIn(kStreamDamage));

// Random damage to a database's header or to change information: refused
// (or opened), never a crash, nothing written.
TEST_F(Damaged, RandomDamageIsRefusedWithoutCrashOrChange) {
  std::unique_ptr<Database> db;
  std::mt19937 rng(5);
  for (int i = 0; i < 300; ++i) {
    std::string mutated = before;
    mutated[rng() % 212] = char(rng());
    WriteHostFile(dir + "/fuzz.nsf", mutated);
    STATUS s = Database::Open(dir + "/fuzz.nsf", Options(), db);
    EXPECT_TRUE(s == NOERROR || s == ERR_DB_CORRUPT || s == ERR_NOT_DATABASE) << s;
  }
  rng.seed(11);
  for (int i = 0; i < 200; ++i) {
    std::string mutated = stream;
    std::size_t at = rng() % mutated.size();
    mutated[at] = char(mutated[at] ^ (1 + rng() % 255));
    ASSERT_NE(Apply(target, mutated, mutated.size(), 1 + rng() % 9000), NOERROR) << "byte " << at;
    ExpectUntouched(target);
  }
}

}  // namespace
