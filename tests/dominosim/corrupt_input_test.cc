// Damaged inputs: database files, log files and change-information streams
// are refused with a status and its text; nothing crashes and the target of
// a refused stream is left exactly as it was.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

#include "dominosim/change_stream.h"
#include "dominosim/database.h"
#include "dominosim/log_reader.h"
#include "dominosim/page_fill.h"
#include "dominosim/status.h"
#include "dominosim/txn_log.h"
#include "dominosim/digest.h"
#include "tests/support/temp_host.h"

using namespace dominosim;
namespace fs = std::filesystem;

namespace {

struct Damaged : ::testing::Test {
  TempHostRoot root;
  std::string dir = root.path().string();
  DatabaseOptions Options() {
    DatabaseOptions o;
    o.stateDir = dir + "/state";
    return o;
  }
  std::string MakeDb(const std::string& name, std::uint32_t pages = 6) {
    CreateParams params;
    params.dataPages = pages;
    std::string path = dir + "/" + name;
    EXPECT_EQ(Database::Create(path, params), NOERROR);
    return path;
  }
  // The change information of a backup during which pages 2 and 7 (new) were written.
  std::string StreamOf(const std::string& path) {
    std::unique_ptr<Database> db;
    EXPECT_EQ(Database::Open(path, Options(), db), NOERROR);
    DWORD ctx = 0;
    EXPECT_EQ(db->BackupStart(&ctx), NOERROR);
    std::vector<std::uint8_t> payload(kPagePayload);
    FillBytes(payload.data(), payload.size(), 99);
    PageWrite w[] = {{2, payload.data()}, {7, payload.data()}};
    EXPECT_EQ(db->Write(w, 2), NOERROR);
    EXPECT_EQ(db->BackupStop(ctx), NOERROR);
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
    if (s != NOERROR) return s;
    for (std::size_t off = 0; off < stream.size(); off += chunk) {
      if ((s = applier->Feed(stream.data() + off, std::min(chunk, stream.size() - off))) != NOERROR) return s;
    }
    return applier->Finish();
  }
};

TEST_F(Damaged, DatabaseFilesAreRefused) {
  std::string good = MakeDb("good.nsf");
  std::string bytes = ReadHostFile(good);
  std::unique_ptr<Database> db;
  struct Case {
    std::string name;
    std::string content;
    STATUS expected;
  };
  std::string flippedHeader = bytes;
  flippedHeader[100] ^= 0x40;
  std::string wrongVersion = bytes;
  wrongVersion[8] = 9;
  std::vector<Case> cases = {
      {"empty.nsf", "", ERR_NOT_DATABASE},
      {"short.nsf", bytes.substr(0, 100), ERR_DB_CORRUPT},
      {"header-only.nsf", bytes.substr(0, 4096), ERR_DB_CORRUPT},
      {"cut.nsf", bytes.substr(0, bytes.size() - 10), ERR_DB_CORRUPT},
      {"flipped.nsf", flippedHeader, ERR_DB_CORRUPT},
      {"version.nsf", wrongVersion, ERR_DB_CORRUPT},
      {"text.nsf", std::string(9000, 'x'), ERR_NOT_DATABASE},
  };
  for (const Case& c : cases) {
    WriteHostFile(dir + "/" + c.name, c.content);
    EXPECT_EQ(Database::Open(dir + "/" + c.name, Options(), db), c.expected) << c.name;
    EXPECT_EQ(StatusText(c.expected).find("Unknown"), std::string::npos);
  }
  EXPECT_EQ(Database::Open(dir + "/missing.nsf", Options(), db), ERR_FILE_NOT_FOUND);
  // A damaged data page: the page read and the digest name it.
  std::string garbledPage = bytes;
  garbledPage[3 * kPageSize + 17] ^= 1;
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
  std::string source = MakeDb("source.nsf");
  std::string target = dir + "/target.nsf";
  fs::copy_file(source, target);
  std::string stream = StreamOf(source);
  ASSERT_EQ(stream.size(), ChangeStreamSize(3));  // header page, 2 and 7
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
      {"another database's stream", StreamOf(MakeDb("other.nsf")), stream.size(), ERR_CHANGE_OTHER_DB},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Apply(target, c.stream, c.declared), c.expected) << c.what;
    untouched(c.what);
  }
  std::mt19937 rng(11);
  for (int i = 0; i < 200; ++i) {
    std::string mutated = stream;
    std::size_t at = rng() % mutated.size();
    mutated[at] = char(mutated[at] ^ (1 + rng() % 255));
    STATUS s = Apply(target, mutated, mutated.size(), 1 + rng() % 9000);
    ASSERT_NE(s, NOERROR) << "byte " << at;
    untouched("flipped byte " + std::to_string(at));
  }
  ASSERT_EQ(Apply(target, stream, stream.size(), 1), NOERROR);  // byte by byte
  EXPECT_EQ(ReadHostFile(target), ReadHostFile(source));
  // No change information at all: nothing is applied.
  EXPECT_EQ(Apply(target, "", 0), NOERROR);
  EXPECT_EQ(ReadHostFile(target), ReadHostFile(source));
  // A target that is not a database is refused at the start.
  WriteHostFile(dir + "/plain.nsf", "not a database");
  std::unique_ptr<ChangeApplier> applier;
  EXPECT_EQ(ChangeApplier::Start(dir + "/plain.nsf", 0, stream.size(), applier), ERR_NOT_DATABASE);
  EXPECT_EQ(ChangeApplier::Start(dir + "/none.nsf", 0, stream.size(), applier), ERR_FILE_NOT_FOUND);
}

TEST_F(Damaged, LogFilesAreRefused) {
  LogOptions options;
  options.dir = dir + "/log";
  options.extentBytes = 32 * 1024;
  std::unique_ptr<TxnLog> log;
  ASSERT_EQ(TxnLog::Open(options, log), NOERROR);
  CreateParams params;
  params.logId = log->logId();
  ASSERT_EQ(Database::Create(dir + "/a.nsf", params), NOERROR);
  DatabaseOptions dbOptions = Options();
  dbOptions.log = log.get();
  std::unique_ptr<Database> db;
  ASSERT_EQ(Database::Open(dir + "/a.nsf", dbOptions, db), NOERROR);
  std::vector<std::uint8_t> payload(kPagePayload, 7);
  for (int i = 0; i < 20; ++i) {
    PageWrite w[] = {{1, payload.data()}};
    ASSERT_EQ(db->Write(w, 1), NOERROR);
  }
  std::string extent = ReadHostFile(log->ExtentPath(1));
  ExtentScan scan;
  std::mt19937 rng(3);
  for (int i = 0; i < 300; ++i) {
    std::string mutated = extent;
    std::size_t at = rng() % mutated.size();
    mutated[at] = char(mutated[at] ^ (1 + rng() % 255));
    if (i % 3 == 0) mutated.resize(rng() % mutated.size());
    WriteHostFile(dir + "/fuzz.TXN", mutated);
    STATUS s = ScanExtent(dir + "/fuzz.TXN", 1, log->logId(), UINT64_MAX, nullptr, scan);
    // Either refused or read only up to the damage.
    if (s == NOERROR) {
      EXPECT_TRUE(scan.stoppedEarly || !scan.sealed || mutated.size() == extent.size()) << at;
    } else {
      EXPECT_TRUE(s == ERR_LOG_CORRUPT || s == ERR_LOG_FOREIGN) << s;
    }
  }
  // A damaged control file: the log cannot be opened, the database write is refused.
  log.reset();
  db.reset();
  WriteHostFile(dir + "/log/SIMLOG.CTL", std::string(128, '\x01'));
  options.create = false;
  EXPECT_EQ(TxnLog::Open(options, log), ERR_LOG_NOT_FOUND);
  options.create = true;
  EXPECT_EQ(TxnLog::Open(options, log), ERR_LOG_NOT_FOUND);  // never replaced by a new log
}

}  // namespace
