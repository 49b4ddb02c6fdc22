// Backup mode against a running nserver: the change information fixed at
// BackupStop, applied to a copy taken under the volume freeze between
// BackupStart and BackupStop, gives the database as it was at BackupStop.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/volume_freeze.h"
#include "sim_host.h"

using namespace dominosim;
namespace fs = std::filesystem;

namespace {

using simtest::Runtime;

// A host and the runtime on its server.
struct BackupMode : ::testing::Test {
  simtest::SimHost host;
  Runtime rt{host.server().notesIni};
  void SetUp() override { ASSERT_EQ(rt.status, NOERROR); }
};

// GetChangeInfoSize and GetChangeInfo as the engine calls them.
std::string ReadChangeInfo(SimApi& api, DBHANDLE h, DWORD context) {
  DWORD low = 0, high = 0;
  EXPECT_EQ(api.GetChangeInfoSize(h, context, 0, &low, &high), NOERROR);
  std::string stream;
  std::vector<char> buffer(32768);
  DWORD length = 0;
  do {
    std::memset(buffer.data(), 0, buffer.size());
    EXPECT_EQ(api.GetChangeInfo(h, context, 0, buffer.data(), 32768, &length), NOERROR);
    EXPECT_LE(length, 32768u);
    stream.append(buffer.data(), length);
  } while (length != 0);
  EXPECT_EQ(stream.size(), (std::uint64_t(high) << 32) | low);  // the size words count it exactly
  return stream;
}

STATUS ApplyStream(SimApi& api, const std::string& target, const std::string& stream) {
  DWORD context = 0;
  STATUS s = api.ApplyChangeInfoStart(&context, target.c_str(), 0, DWORD(stream.size()), 0);
  for (std::size_t off = 0; s == NOERROR && off < stream.size(); off += 32768) {
    s = api.ApplyChangeInfo(context, 0, stream.data() + off, DWORD(std::min<std::size_t>(32768, stream.size() - off)));
  }
  return s == NOERROR ? api.ApplyChangeInfoEnd(context, 0) : s;
}

TEST_F(BackupMode, ChangeInfoRoundTripWhileServerWrites) {
  const InstalledServer& server = host.server();
  ServerConfig config = host.Config();
  auto nserver = std::make_unique<simtest::ServerProcess>(host.root(), server.notesIni, "2000", "3");
  ASSERT_TRUE(simtest::WaitForRecords(config.logDirHost, 20));

  struct Entry {
    std::string win, copyWin;
    DBHANDLE handle = 0;
    DWORD context = 0;
    std::string atStop, stream;
  };
  std::vector<Entry> entries;
  for (const std::string& win : server.databases) {
    Entry& e = entries.emplace_back();
    e.win = win;
    e.copyWin = "D:\\snapshot" + win.substr(2);
    DWORD v1, v2;
    ASSERT_EQ(rt.api.OpenDatabase(win.c_str(), &e.handle), NOERROR) << win;
    ASSERT_EQ(rt.api.BackupStart(e.handle, 0, &e.context, &v1, &v2), NOERROR) << win;
  }
  ASSERT_TRUE(simtest::WaitForRecords(config.logDirHost, 150));
  {
    // The "snapshot": every database copied while the volume is frozen.
    platform::VolumeLock freeze;
    ASSERT_TRUE(freeze.Lock('D', platform::VolumeLock::Kind::ExclusiveFreeze));
    for (const Entry& e : entries) {
      fs::create_directories(fs::path(host.Host(e.copyWin)).parent_path());
      fs::copy_file(host.Host(e.win), host.Host(e.copyWin));
    }
  }
  ASSERT_TRUE(simtest::WaitForRecords(config.logDirHost, 150));
  ASSERT_EQ(nserver->Stop(), 0);
  for (Entry& e : entries) {
    ASSERT_EQ(rt.api.BackupStop(e.handle, e.context), NOERROR);
    e.atStop = simtest::Digest(config, host.Host(e.win));
  }
  // Writes after BackupStop are not part of the change information.
  nserver = std::make_unique<simtest::ServerProcess>(host.root(), server.notesIni, "2000", "4");
  ASSERT_TRUE(simtest::WaitForRecords(config.logDirHost, 150));
  int changedInWindow = 0;
  for (Entry& e : entries) {
    e.stream = ReadChangeInfo(rt.api, e.handle, e.context);
    EXPECT_EQ(rt.api.BackupEnd(e.handle, e.context, 0), NOERROR);
    EXPECT_EQ(rt.api.CloseDatabase(e.handle), NOERROR);
    changedInWindow += simtest::Digest(config, host.Host(e.copyWin)) != e.atStop;
  }
  ASSERT_EQ(nserver->Stop(), 0);
  EXPECT_GT(changedInWindow, 0) << "the workload wrote nothing after the copy";

  int changedAfterStop = 0;
  for (Entry& e : entries) {
    ASSERT_EQ(ApplyStream(rt.api, e.copyWin, e.stream), NOERROR) << e.win;
    EXPECT_EQ(simtest::Digest(config, host.Host(e.copyWin)), e.atStop) << e.win;
    EXPECT_FALSE(fs::exists(host.Host(e.copyWin) + ".dsim-apply"));
    changedAfterStop += simtest::Digest(config, host.Host(e.win)) != e.atStop;
  }
  EXPECT_GT(changedAfterStop, 0) << "the workload wrote nothing after BackupStop";
}

TEST_F(BackupMode, ContextsAndOrderAreEnforced) {
  const char* path = host.server().databases[0].c_str();
  DBHANDLE a = 0, b = 0;
  ASSERT_EQ(rt.api.OpenDatabase(path, &a), NOERROR);
  ASSERT_EQ(rt.api.OpenDatabase(path, &b), NOERROR);
  DWORD ctx = 0, v1, v2, low, high, length;
  char buffer[64];
  EXPECT_EQ(rt.api.GetChangeInfoSize(a, 1, 0, &low, &high), ERR_NOT_IN_BACKUP);
  ASSERT_EQ(rt.api.BackupStart(a, 0, &ctx, &v1, &v2), NOERROR);
  DWORD other = 0;
  EXPECT_EQ(rt.api.BackupStart(b, 0, &other, &v1, &v2), ERR_IN_BACKUP);  // one backup at a time
  EXPECT_EQ(rt.api.GetChangeInfoSize(a, ctx, 0, &low, &high), ERR_BACKUP_NOT_STOPPED);
  EXPECT_EQ(rt.api.GetChangeInfo(a, ctx, 0, buffer, sizeof buffer, &length), ERR_BACKUP_NOT_STOPPED);
  EXPECT_EQ(rt.api.BackupStop(a, ctx + 1), ERR_NOT_IN_BACKUP);
  ASSERT_EQ(rt.api.BackupStop(a, ctx), NOERROR);
  ASSERT_EQ(rt.api.GetChangeInfoSize(a, ctx, 0, &low, &high), NOERROR);
  EXPECT_GT(low, 0u);  // at least the header page
  EXPECT_EQ(rt.api.BackupEnd(a, ctx, 1), NOERROR);
  EXPECT_EQ(rt.api.BackupEnd(a, ctx, 1), ERR_NOT_IN_BACKUP);
  EXPECT_EQ(rt.api.BackupStart(b, 0, &other, &v1, &v2), NOERROR);  // released
  EXPECT_EQ(rt.api.CloseDatabase(b), NOERROR);                     // closing gives it up
  EXPECT_EQ(rt.api.BackupStart(a, 0, &ctx, &v1, &v2), NOERROR);
  EXPECT_EQ(rt.api.CloseDatabase(a), NOERROR);
  EXPECT_EQ(rt.api.CloseDatabase(a), ERR_BAD_HANDLE);
}

// Each database in backup mode costs one descriptor, also once stopped and
// while its change information is read; when none is left, the status says so.
TEST_F(BackupMode, ADatabaseInBackupHoldsOneDescriptor) {
  auto openFiles = [] {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++count;
    return count;
  };
  const std::vector<std::string>& paths = host.server().databases;
  std::vector<std::pair<DBHANDLE, DWORD>> held(paths.size());
  DWORD v1, v2;
  ASSERT_EQ(rt.api.OpenDatabase(paths[0].c_str(), &held[0].first), NOERROR);  // the log opens on first use
  ASSERT_EQ(rt.api.CloseDatabase(held[0].first), NOERROR);
  const std::size_t before = openFiles();
  for (std::size_t i = 0; i < paths.size(); ++i) {
    ASSERT_EQ(rt.api.OpenDatabase(paths[i].c_str(), &held[i].first), NOERROR);
    ASSERT_EQ(rt.api.BackupStart(held[i].first, 0, &held[i].second, &v1, &v2), NOERROR);
  }
  EXPECT_EQ(openFiles(), before + paths.size());
  for (auto& [handle, context] : held) {
    ASSERT_EQ(rt.api.BackupStop(handle, context), NOERROR);
    DWORD length = 0;
    char chunk[100];
    ASSERT_EQ(rt.api.GetChangeInfo(handle, context, 0, chunk, sizeof chunk, &length), NOERROR);
    EXPECT_EQ(length, sizeof chunk);
    EXPECT_EQ(openFiles(), before + paths.size());
  }

  // Every descriptor the limit allows in use.
  struct rlimit limit = {};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
  const struct rlimit saved = limit;
  const int spare = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(spare, 0);
  limit.rlim_cur = openFiles() + 4;
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);
  std::vector<int> filler = {spare};
  for (int fd; (fd = ::dup(spare)) >= 0;) filler.push_back(fd);
  DBHANDLE one = 0;
  const STATUS refused = rt.api.OpenDatabase(paths[0].c_str(), &one);
  char text[200];
  rt.api.GetErrorText(0, refused, text, sizeof text);
  for (int fd : filler) ::close(fd);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
  EXPECT_EQ(refused, ERR_TOO_MANY_FILES);
  EXPECT_EQ(std::string(text),
            "File I/O error: too many open files (the limit is " + std::to_string(limit.rlim_cur) + ")");
  if (one != 0) rt.api.CloseDatabase(one);

  for (auto& [handle, context] : held) {
    EXPECT_EQ(rt.api.BackupEnd(handle, context, 0), NOERROR);
    EXPECT_EQ(rt.api.CloseDatabase(handle), NOERROR);
  }
  EXPECT_EQ(openFiles(), before);
}

// A service killed in the middle of a backup: its backup mode is released,
// by the next BackupStart and by the server, which stops recording for it.
TEST_F(BackupMode, DeadHolderIsReleased) {
  const std::string ini = host.server().notesIni;
  const std::string path = host.server().databases[0];
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  pid_t child = ::fork();
  if (child == 0) {
    Runtime holder(ini);
    DBHANDLE h = 0;
    DWORD ctx, v1, v2;
    char ok = (holder.status == 0 && holder.api.OpenDatabase(path.c_str(), &h) == 0 &&
               holder.api.BackupStart(h, 0, &ctx, &v1, &v2) == 0) ? 'y' : 'n';
    if (::write(ready[1], &ok, 1) != 1) _exit(3);
    ::pause();
    _exit(0);
  }
  char ok = 0;
  ASSERT_EQ(::read(ready[0], &ok, 1), 1);
  ASSERT_EQ(ok, 'y');
  auto dirtyBytes = [&] {
    std::uintmax_t total = 0;
    for (const auto& entry : fs::directory_iterator(host.Config().stateDirHost)) {
      if (entry.path().extension() == ".dirty") total += entry.file_size();
    }
    return total;
  };
  auto runServer = [&] {
    simtest::ServerProcess server(host.root(), ini);
    ASSERT_TRUE(simtest::WaitForRecords(host.Config().logDirHost, 300));
    EXPECT_EQ(server.Stop(), 0);
  };
  runServer();  // while the holder lives, the server's writes of the database are recorded
  EXPECT_GT(dirtyBytes(), 0u);
  DBHANDLE h = 0;
  ASSERT_EQ(rt.api.OpenDatabase(path.c_str(), &h), NOERROR);
  DWORD ctx = 0, v1, v2;
  EXPECT_EQ(rt.api.BackupStart(h, 0, &ctx, &v1, &v2), ERR_IN_BACKUP);  // the holder lives
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  ::close(ready[0]);
  ::close(ready[1]);
  runServer();  // the server notices the dead holder and stops recording for it
  EXPECT_EQ(dirtyBytes(), 0u);
  EXPECT_EQ(rt.api.BackupStart(h, 0, &ctx, &v1, &v2), NOERROR);
  EXPECT_EQ(rt.api.BackupEnd(h, ctx, 1), NOERROR);
}

}  // namespace
