// Backup mode: contexts and their order, descriptors held, and a holder
// that died (the round trip of the change information under load is the
// system tests').
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <filesystem>
#include <vector>

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
  auto runServer = [&] { simtest::RunServer(host, "7", [](const LogControl&) { return true; }, 300); };
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
