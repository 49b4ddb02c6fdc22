// Roll-forward from the transaction log through RecoverDatabaseList.
#include <gtest/gtest.h>

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
STATUS FindsNothing(void*, DWORD number, const char* path) {
  g_calls.emplace_back(number, path);
  return 0xFFFF;
}

// A host whose server has written across many extents since its databases
// were saved; the first extents were archived (copied aside, marked) and
// have left the log directory.
struct RecoveryHost : ::testing::Test {
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
    RunServer([](const LogControl& c) { return c.currentExtent >= 8; });
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
    RunServer([&](const LogControl& c) { return c.oldestPresent > 3 && c.nextLsn > 0; });
    ASSERT_FALSE(fs::exists(config.logDirHost + "/S0000001.TXN"));
    int changed = 0;
    for (const std::string& win : host.server().databases) {
      liveDigest[win] = simtest::Digest(config, host.Host(win));
      changed += liveDigest[win] != oldDigest[win];
    }
    ASSERT_GT(changed, 3) << "the workload changed too little to test anything";
  }
  template <typename Condition>
  void RunServer(Condition until) {
    static int seed = 1;
    simtest::ServerProcess server(host.root(), host.server().notesIni, std::to_string(++seed));
    ASSERT_TRUE(simtest::WaitForLog(config.logDirHost, until));
    ASSERT_TRUE(simtest::WaitForRecords(config.logDirHost, 100));
    ASSERT_EQ(server.Stop(), 0);
  }
  // Every logged database has the digest it has in want.
  void ExpectDigests(std::map<std::string, std::string>& want) {
    for (const std::string& win : logged) EXPECT_EQ(simtest::Digest(config, host.Host(win)), want[win]) << win;
  }
  // Puts the old copies back in place, as a restore of the volume would.
  void RestoreOldCopies() {
    for (const auto& [win, bytes] : oldBytes) WriteHostFile(host.Host(win), bytes);
  }
  // RecoverDatabaseList on the packed list; position and printed take what it gave.
  STATUS Recover(const std::vector<std::string>& paths, ArchivedLogCallbackFn callback) {
    std::string packed;
    for (const std::string& p : paths) packed += p + '\0';
    packed += '\0';
    ::testing::internal::CaptureStdout();
    STATUS s = api.RecoverDatabaseList(packed.data(), callback, 1, &position, 0);
    printed = ::testing::internal::GetCapturedStdout();
    return s;
  }
};

TEST_F(RecoveryHost, MissingExtentUnloggedAndBadDatabasesFailWithoutWriting) {
  RestoreOldCopies();
  EXPECT_EQ(Recover(logged, FindsNothing), ERR_LOGS_MISSING);
  EXPECT_EQ(position, 0);
  ASSERT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(g_calls[0].first, 1u);
  ExpectDigests(oldDigest);

  // Refused lists: the status and the position of the database at fault (0 for the
  // list itself); the last one does not fit the runtime's buffer of 65,536 bytes.
  simtest::PokeByte(host.Host(logged[2]), 30, '\x5a');
  struct Refused { std::vector<std::string> paths; STATUS status; WORD position; };
  for (const Refused& c : {Refused{{logged[0], unlogged[0], logged[1]}, ERR_DB_NOT_LOGGED, 2},
                           Refused{{logged[0], logged[1], logged[2]}, ERR_DB_CORRUPT, 3},
                           Refused{{logged[0], "D:\\Domino\\Data\\nothere.nsf"}, ERR_FILE_NOT_FOUND, 2},
                           Refused{{"Q:\\unmapped.nsf"}, ERR_BAD_PATH, 1},
                           Refused{std::vector<std::string>(65536 / logged[0].size() + 1, logged[0]),
                                   ERR_BAD_LIST, 0}}) {
    EXPECT_EQ(Recover(c.paths, CopyFromArchive), c.status) << c.paths.back();
    EXPECT_EQ(position, c.position) << c.paths.back();
  }
  EXPECT_EQ(simtest::Digest(config, host.Host(logged[0])), oldDigest[logged[0]]);
  // The engine's retry drops the named database; the rest recovers.
  ASSERT_EQ(Recover({logged[0], logged[1]}, CopyFromArchive), NOERROR) << printed;
  EXPECT_EQ(simtest::Digest(config, host.Host(logged[1])), liveDigest[logged[1]]);
  // An empty list is nothing to do.
  EXPECT_EQ(Recover({}, FindsNothing), NOERROR);
}

TEST_F(RecoveryHost, TornTailEndsCleanlyAndDamagedExtentIsRefused) {
  // A record the writer never finished: half a page at the end of the current extent.
  const LogControl control = simtest::ReadLog(config.logDirHost);
  ASSERT_GT(control.currentExtent, 1u);
  std::string current = config.logDirHost + "/" + ExtentFileName(control.currentExtent);
  std::ofstream(current, std::ios::app | std::ios::binary) << std::string(2100, '\x33');
  RestoreOldCopies();
  ASSERT_EQ(Recover(logged, CopyFromArchive), NOERROR) << printed;
  ExpectDigests(liveDigest);

  // A damaged record inside a full extent: refused before anything is written.
  RestoreOldCopies();
  std::string sealed = config.logDirHost + "/" + ExtentFileName(control.currentExtent - 1);
  simtest::PokeByte(sealed, 5000, '\x01');
  EXPECT_EQ(Recover(logged, CopyFromArchive), ERR_LOG_CORRUPT);
  EXPECT_EQ(position, 0);
  EXPECT_NE(printed.find(ExtentFileName(control.currentExtent - 1) + " is damaged"), std::string::npos) << printed;
  ExpectDigests(oldDigest);
}

}  // namespace
