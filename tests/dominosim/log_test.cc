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
  // The change information of a backup during which pages 2 and 9 (new) were
  // written, read after page 2 was written again (*atStop: the file before).
  std::string StreamOf(const std::string& path, std::string* atStop = nullptr) {
    std::unique_ptr<Database> db;
    EXPECT_EQ(Database::Open(path, Options(), db), NOERROR);
    DWORD ctx = 0;
    EXPECT_EQ(db->BackupStart(&ctx), NOERROR);
    const Payload payload(99);
    PageWrite w[] = {{2, payload.bytes.data()}, {9, payload.bytes.data()}};
    EXPECT_EQ(db->Write(w, 2), NOERROR);
    EXPECT_EQ(db->BackupStop(ctx), NOERROR);
    if (atStop != nullptr) *atStop = ReadHostFile(path);
    const Payload later(100);
    w[0].payload = later.bytes.data();
    EXPECT_EQ(db->Write(w, 1), NOERROR);
    std::string stream(64 * 1024, '\0');
    DWORD length = 0;
    EXPECT_EQ(db->ReadChangeInfo(ctx, stream.data(), DWORD(stream.size()), &length), NOERROR);
    stream.resize(length);
    EXPECT_EQ(db->BackupEnd(ctx, false), NOERROR);
    return stream;
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
using Damaged = LogFixture;

TEST_F(LogFixture, PagesAreLoggedAndExtentsRollSealedAndChained) {
  auto log = OpenLog(LogStyle::Archive, 64 * 1024);
  auto db = MakeDb(log.get(), "a.nsf");
  Payload one(11), two(12);
  PageWrite writes[] = {{3, one.bytes.data()}, {9, two.bytes.data()}};  // 9 grows the database
  ASSERT_EQ(db->Write(writes, 2), NOERROR);
  std::uint8_t page[kPageSize];
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
  // An unlogged database logs nothing; 98 more records roll the extents.
  auto unlogged = MakeDb(log.get(), "u.nsf", false);
  ASSERT_EQ(unlogged->Write(writes, 1), NOERROR);
  WriteMany(*db, 98, true);
  LogControl control;
  ASSERT_EQ(log->ReadControl(control), NOERROR);
  ASSERT_GE(control.currentExtent, 6u);  // 15 records of 4 KiB fit one 64 KiB extent
  EXPECT_EQ(control.nextLsn, 101u);
  ExtentScan scan;
  ASSERT_EQ(ScanExtent(log->ExtentPath(1), 1, log->logId(), UINT64_MAX, nullptr, scan), NOERROR);
  EXPECT_TRUE(scan.sealed && !scan.stoppedEarly);
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

TEST_F(Damaged, DatabaseFilesAreRefused) {
  const std::string bytes = ReadHostFile(Create("good.nsf"));
  std::unique_ptr<Database> db;
  std::string flippedHeader = bytes, wrongVersion = bytes, garbledPage = bytes;
  flippedHeader[100] ^= 0x40;
  wrongVersion[8] = 9;
  garbledPage[3 * kPageSize + 17] ^= 1;
  const struct { std::string content; STATUS expected; } cases[] = {
      {"", ERR_NOT_DATABASE},
      {bytes.substr(0, 100), ERR_DB_CORRUPT},
      {bytes.substr(0, 4096), ERR_DB_CORRUPT},
      {bytes.substr(0, bytes.size() - 10), ERR_DB_CORRUPT},
      {flippedHeader, ERR_DB_CORRUPT},
      {wrongVersion, ERR_DB_CORRUPT},
      {std::string(9000, 'x'), ERR_NOT_DATABASE},
  };
  for (const auto& c : cases) {
    WriteHostFile(dir + "/bad.nsf", c.content);
    EXPECT_EQ(Database::Open(dir + "/bad.nsf", Options(), db), c.expected) << c.content.size();
  }
  EXPECT_EQ(Database::Open(dir + "/missing.nsf", Options(), db), ERR_FILE_NOT_FOUND);
  // A damaged data page: the page read and the digest name it.
  WriteHostFile(dir + "/page.nsf", garbledPage);
  ASSERT_EQ(Database::Open(dir + "/page.nsf", Options(), db), NOERROR);
  std::uint8_t page[kPageSize];
  EXPECT_EQ(db->ReadPage(3, page), ERR_DB_CORRUPT);
  EXPECT_EQ(db->ReadPage(2, page), NOERROR);
  std::string hex;
  EXPECT_EQ(DigestDatabase(dir + "/page.nsf", dir + "/state", &hex), ERR_DB_CORRUPT);
  // Random damage anywhere in the header never crashes an open.
  std::mt19937 rng(5);
  for (int i = 0; i < 300; ++i) {
    std::string mutated = bytes;
    mutated[rng() % 212] = char(rng());
    WriteHostFile(dir + "/fuzz.nsf", mutated);
    STATUS s = Database::Open(dir + "/fuzz.nsf", Options(), db);
    EXPECT_TRUE(s == NOERROR || s == ERR_DB_CORRUPT || s == ERR_NOT_DATABASE) << s;
  }
}

TEST_F(Damaged, ChangeStreamsAreRefusedAndTargetUntouched) {
  const std::string source = Create("source.nsf"), target = dir + "/target.nsf";
  fs::copy_file(source, target);
  std::string atStop;
  const std::string stream = StreamOf(source, &atStop);
  ASSERT_EQ(stream.size(), ChangeStreamSize(3));  // header page, 2 and 9
  const std::string before = ReadHostFile(target);
  auto untouched = [&](const std::string& what) {
    EXPECT_EQ(ReadHostFile(target), before) << what;
    EXPECT_FALSE(fs::exists(target + ".dsim-apply")) << what;
  };

  struct Case { const char* what; std::string stream; std::uint64_t declared; STATUS expected; };
  const Case cases[] = {
      {"cut by one byte", stream.substr(0, stream.size() - 1), stream.size(), ERR_CHANGE_TRUNCATED},
      {"cut in the first entry", stream.substr(0, 5000), stream.size(), ERR_CHANGE_TRUNCATED},
      {"cut with matching size words", stream.substr(0, 5000), 5000, ERR_CHANGE_CORRUPT},
      {"longer than declared", stream + "x", stream.size(), ERR_CHANGE_TOO_LONG},
      {"bytes after the trailer", stream + "x", stream.size() + 1, ERR_CHANGE_CORRUPT},
      {"garbage", std::string(stream.size(), '\x7f'), stream.size(), ERR_CHANGE_CORRUPT},
      {"another database's stream", StreamOf(Create("other.nsf")), stream.size(), ERR_CHANGE_OTHER_DB},
      {"target not a database", stream, stream.size(), ERR_NOT_DATABASE},
  };
  WriteHostFile(dir + "/plain.nsf", "not a database");
  for (const Case& c : cases) {
    const bool plain = c.expected == ERR_NOT_DATABASE;
    EXPECT_EQ(Apply(plain ? dir + "/plain.nsf" : target, c.stream, c.declared), c.expected) << c.what;
    untouched(c.what);
  }
  std::mt19937 rng(11);
  for (int i = 0; i < 200; ++i) {
    std::string mutated = stream;
    std::size_t at = rng() % mutated.size();
    mutated[at] = char(mutated[at] ^ (1 + rng() % 255));
    ASSERT_NE(Apply(target, mutated, mutated.size(), 1 + rng() % 9000), NOERROR) << "byte " << at;
    untouched("flipped byte " + std::to_string(at));
  }
  ASSERT_EQ(Apply(target, stream, stream.size(), 1), NOERROR);  // byte by byte
  EXPECT_EQ(ReadHostFile(target), atStop);
  // No change information at all: nothing is applied.
  EXPECT_EQ(Apply(target, "", 0), NOERROR);
  EXPECT_EQ(ReadHostFile(target), atStop);
  EXPECT_EQ(Apply(dir + "/none.nsf", stream, stream.size()), ERR_FILE_NOT_FOUND);
}

}  // namespace
