// Roll-forward from the transaction log through RecoverDatabaseList.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <vector>

#include "dominosim/log_reader.h"
#include "sim_host.h"

using namespace dominosim;
namespace fs = std::filesystem;

namespace {

// What the archived-log callback was asked, and where it takes logs from.
std::string g_archiveDir;
std::vector<std::pair<DWORD, std::string>> g_calls;

// Copies the extents from number on out of the archive into the log directory.
STATUS CopyFromArchive(void*, DWORD number, const char* path) {
  g_calls.emplace_back(number, path);
  std::string dir, win(path);
  EXPECT_EQ(MapPath(win.substr(0, win.rfind('\\')), dir), NOERROR);
  DWORD n = number;
  for (; fs::exists(fs::path(g_archiveDir) / ExtentFileName(n)); ++n) {
    fs::copy_file(fs::path(g_archiveDir) / ExtentFileName(n), fs::path(dir) / ExtentFileName(n),
                  fs::copy_options::skip_existing);
  }
  return n > number ? 0 : 0xFFFF;
}

// A host whose server has written across many extents since its databases
// were saved; the first extents were archived (copied aside, marked) and
// have left the log directory.
struct Refused;
struct RecoveryHost : ::testing::Test, ::testing::WithParamInterface<Refused> {
  simtest::SimHost host{[] { InstallOptions o; o.extentKiB = 32; return o; }()};  // a short run fills several extents
  ServerConfig config = host.Config();
  simtest::Runtime runtime{host.server().notesIni};
  SimApi& api = runtime.api;
  std::vector<std::string> logged, unlogged;
  std::map<std::string, std::string> oldBytes, liveDigest, oldDigest;
  WORD position = 9;
  std::string printed;

  void SetUp() override {
    ASSERT_EQ(runtime.status, NOERROR);
    g_archiveDir = host.root() + "/archive";
    fs::create_directories(g_archiveDir);
    g_calls.clear();
    for (const std::string& win : host.server().databases) {
      (win.find("scratch") != std::string::npos ? unlogged : logged).push_back(win);
      oldBytes[win] = ReadHostFile(host.Host(win));
      oldDigest[win] = simtest::Digest(config, host.Host(win));
    }
    // Many extents, so that several full ones wait to be archived.
    simtest::RunServer(host, "2", [](const LogControl& c) { return c.currentExtent >= 8; }, 100);
    // The archive walk: full extents in order, with their Windows paths, then
    // the current extent; the first three are copied aside and marked.
    BYTE id[16];
    DWORD number = 0, expected = 1;
    char path[1024];
    ASSERT_EQ(api.ArchiveBegin(), NOERROR);
    STATUS s = api.GetFirstArchiveLog(id, &number, path);
    for (; s == NOERROR; s = api.GetNextArchiveLog(id, &number, path), ++expected) {
      EXPECT_EQ(number, expected);
      EXPECT_EQ(path, "E:\\Logs\\" + ExtentFileName(number));
      if (number > 3) continue;
      fs::copy_file(host.Host(path), fs::path(g_archiveDir) / ExtentFileName(number));
      ASSERT_EQ(api.MarkLogArchived(id, number), NOERROR);
    }
    ASSERT_EQ(s, ERR_NO_MORE_LOGS);
    ASSERT_GE(expected, 6u);
    ASSERT_EQ(api.ArchiveEnd(), NOERROR);
    // Rolls over: the archived extents leave the log directory.
    simtest::RunServer(host, "3", [](const LogControl& c) { return c.oldestPresent > 3 && c.nextLsn > 0; }, 100);
    ASSERT_FALSE(fs::exists(config.logDirHost + "/S0000001.TXN"));
    int changed = 0;
    for (const std::string& win : host.server().databases) {
      liveDigest[win] = simtest::Digest(config, host.Host(win));
      changed += liveDigest[win] != oldDigest[win];
    }
    ASSERT_GT(changed, 3) << "the workload changed too little to test anything";
  }
  // Every logged database named in paths has the digest it has in want.
  void ExpectDigests(std::map<std::string, std::string>& want, const std::vector<std::string>& paths) {
    for (const std::string& win : logged) {
      if (std::count(paths.begin(), paths.end(), win) == 0) continue;
      EXPECT_EQ(simtest::Digest(config, host.Host(win)), want[win]) << win;
    }
  }
  // Puts the old copies back in place, as a restore of the volume would.
  void RestoreOldCopies() {
    for (const auto& [win, bytes] : oldBytes) WriteHostFile(host.Host(win), bytes);
  }
  // RecoverDatabaseList on the packed list; position and printed take what it gave.
  STATUS Recover(const std::vector<std::string>& paths) {
    std::string packed;
    for (const std::string& p : paths) packed += p + '\0';
    packed += '\0';
    ::testing::internal::CaptureStdout();
    STATUS s = api.RecoverDatabaseList(packed.data(), CopyFromArchive, 1, &position, 0);
    printed = ::testing::internal::GetCapturedStdout();
    return s;
  }
};

// A list refused with a status and the position of the database at fault (0:
// the list itself, which here does not fit the runtime's buffer of 65,536
// bytes), nothing written; the engine's retry without that database recovers.
using Paths = std::vector<std::string>;
struct Refused { const char* what; Paths (*paths)(RecoveryHost&); STATUS status; WORD position; };
void PrintTo(const Refused& c, std::ostream* os) { *os << c.what; }
const Refused kRefused[] = {
    {"ExtentMissing", [](RecoveryHost& h) { fs::remove_all(g_archiveDir); return h.logged; }, ERR_LOGS_MISSING, 0},
    {"NotLogged", [](RecoveryHost& h) { return Paths{h.logged[0], h.unlogged[0], h.logged[1]}; }, ERR_DB_NOT_LOGGED, 2},
    {"Damaged", [](RecoveryHost& h) {
       std::fstream(h.host.Host(h.logged[2]), std::ios::binary | std::ios::in | std::ios::out).seekp(30) << '\x5a';
       return Paths{h.logged[0], h.logged[1], h.logged[2]};
     }, ERR_DB_CORRUPT, 3},
    {"Missing", [](RecoveryHost& h) { return Paths{h.logged[0], "D:\\nothere.nsf"}; }, ERR_FILE_NOT_FOUND, 2},
    {"Unmapped", [](RecoveryHost&) { return Paths{"Q:\\unmapped.nsf"}; }, ERR_BAD_PATH, 1},
    {"TooLong", [](RecoveryHost& h) { return Paths(65536 / h.logged[0].size() + 1, h.logged[0]); }, ERR_BAD_LIST, 0},
};

TEST_P(RecoveryHost, MissingExtentUnloggedAndBadDatabasesFailWithoutWriting) {
  const Refused& c = GetParam();
  RestoreOldCopies();
  Paths paths = c.paths(*this);
  EXPECT_EQ(Recover(paths), c.status) << printed;
  EXPECT_EQ(position, c.position);
  // Only a list that was accepted asks for a log, the first.
  EXPECT_EQ(g_calls.size(), c.status == ERR_LOGS_MISSING ? 1u : 0u);
  for (const auto& call : g_calls) EXPECT_EQ(call.first, 1u);
  if (c.position > 0) paths.erase(paths.begin() + c.position - 1);
  ExpectDigests(oldDigest, paths);
  if (c.position == 0) return;
  ASSERT_EQ(Recover(paths), NOERROR) << printed;
  ExpectDigests(liveDigest, paths);
}
INSTANTIATE_TEST_SUITE_P(Rows, RecoveryHost, ::testing::ValuesIn(kRefused));

TEST_F(RecoveryHost, TornTailEndsCleanlyAndDamagedExtentIsRefused) {
  // A record the writer never finished: half a page at the end of the current extent.
  const LogControl control = simtest::ReadLog(config.logDirHost);
  ASSERT_GT(control.currentExtent, 1u);
  std::string current = config.logDirHost + "/" + ExtentFileName(control.currentExtent);
  std::ofstream(current, std::ios::app | std::ios::binary) << std::string(2100, '\x33');
  RestoreOldCopies();
  ASSERT_EQ(Recover(logged), NOERROR) << printed;
  ExpectDigests(liveDigest, logged);

  // A damaged record inside a full extent: refused before anything is written.
  RestoreOldCopies();
  std::string sealed = config.logDirHost + "/" + ExtentFileName(control.currentExtent - 1);
  std::fstream(sealed, std::ios::binary | std::ios::in | std::ios::out).seekp(5000) << '\x01';
  EXPECT_EQ(Recover(logged), ERR_LOG_CORRUPT);
  EXPECT_EQ(position, 0);
  EXPECT_NE(printed.find(ExtentFileName(control.currentExtent - 1) + " is damaged"), std::string::npos) << printed;
  ExpectDigests(oldDigest, logged);
}

}  // namespace
