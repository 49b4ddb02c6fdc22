// A whole backup of a simulated Domino server while its server process
// writes, checked against the runtime: the snapshot's copy of every database
// with the saved change information applied is the database as it was when
// its backup mode stopped; the archived logs are the extents the runtime
// handed over; log_hint and disabled_databases say what the runtime said.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

#include "backup/backup_run.h"
#include "backup/database_backup.h"
#include "backup/hint_files.h"
#include "domino/settings.h"
#include "dominosim/digest.h"
#include "dominosim/sim_api.h"
#include "output/output.h"
#include "platform/com.h"
#include "platform/files.h"
#include "platform/host.h"
#include "platform/text.h"
#include "snapshot/snapshot_names.h"
#include "snapshot/snapshot_service.h"
#include "snapshotsvc/configure.h"
#include "test_host.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

const std::string kIni = "C:\\Lotus\\Domino\\notes.ini";

// The simulated runtime, watched: what it handed over and when.
class WatchedRuntime : public DominoApi {
 public:
  explicit WatchedRuntime(DominoApi& inner) : in_(inner) {}

  struct LogInfo {
    std::string path;
    DWORD logged = 0, extent = 0;
    std::array<BYTE, 16> id{};
  };
  std::vector<LogInfo> logInfo;             // in call order
  std::map<DWORD, std::string> handedLogs;  // number -> extent bytes when handed over
  std::vector<DWORD> markedLogs;            // in call order
  std::function<void()> beforeFirstStop;

  STATUS OpenDatabase(const char* path, DBHANDLE* h) override {
    STATUS s = in_.OpenDatabase(path, h);
    if (s == 0) paths_[*h] = path;
    return s;
  }
  STATUS GetDatabaseLogInfo(DBHANDLE h, DWORD z, DWORD* logged, BYTE id[16], BYTE id2[16], DWORD* ext) override {
    STATUS s = in_.GetDatabaseLogInfo(h, z, logged, id, id2, ext);
    if (s == 0) {
      logInfo.push_back({paths_[h], *logged, *ext, {}});
      std::copy(id, id + 16, logInfo.back().id.begin());
    }
    return s;
  }
  STATUS BackupStop(DBHANDLE h, DWORD c) override {
    if (beforeFirstStop) std::exchange(beforeFirstStop, nullptr)();
    return in_.BackupStop(h, c);
  }
  STATUS GetFirstArchiveLog(BYTE id[16], DWORD* number, char* path) override {
    const STATUS s = in_.GetFirstArchiveLog(id, number, path);
    return Handed(s, *number, path);
  }
  STATUS GetNextArchiveLog(BYTE id[16], DWORD* number, char* path) override {
    const STATUS s = in_.GetNextArchiveLog(id, number, path);
    return Handed(s, *number, path);
  }

  // The rest as the runtime does it.
  STATUS InitRuntime(int argc, char** argv) override { return in_.InitRuntime(argc, argv); }
  void TermRuntime() override { in_.TermRuntime(); }
  STATUS CloseDatabase(DBHANDLE h) override { return in_.CloseDatabase(h); }
  WORD GetErrorText(WORD z, STATUS s, char* b, WORD n) override { return in_.GetErrorText(z, s, b, n); }
  STATUS BackupStart(DBHANDLE h, DWORD z, DWORD* c, DWORD* a, DWORD* b) override { return in_.BackupStart(h, z, c, a, b); }
  STATUS BackupEnd(DBHANDLE h, DWORD c, DWORD a) override { return in_.BackupEnd(h, c, a); }
  STATUS GetChangeInfoSize(DBHANDLE h, DWORD c, DWORD z, DWORD* lo, DWORD* hi) override {
    return in_.GetChangeInfoSize(h, c, z, lo, hi);
  }
  STATUS GetChangeInfo(DBHANDLE h, DWORD c, DWORD z, void* b, DWORD n, DWORD* len) override {
    return in_.GetChangeInfo(h, c, z, b, n, len);
  }
  STATUS ApplyChangeInfoStart(DWORD* x, const char* p, DWORD z, DWORD lo, DWORD hi) override {
    return in_.ApplyChangeInfoStart(x, p, z, lo, hi);
  }
  STATUS ApplyChangeInfo(DWORD x, DWORD z, const void* b, DWORD n) override { return in_.ApplyChangeInfo(x, z, b, n); }
  STATUS ApplyChangeInfoEnd(DWORD x, DWORD z) override { return in_.ApplyChangeInfoEnd(x, z); }
  STATUS ArchiveBegin() override { return in_.ArchiveBegin(); }
  STATUS ArchiveEnd() override { return in_.ArchiveEnd(); }
  STATUS MarkLogArchived(const BYTE id[16], DWORD number) override {
    markedLogs.push_back(number);
    return in_.MarkLogArchived(id, number);
  }
  STATUS GetLoggingStyle(DWORD* s) override { return in_.GetLoggingStyle(s); }
  STATUS GetServerName(char* b) override { return in_.GetServerName(b); }
  STATUS AbbreviateName(DWORD a, DWORD b, const char* n, char* o, WORD s, WORD* l) override {
    return in_.AbbreviateName(a, b, n, o, s, l);
  }
  STATUS TranslatePath(WORD m, const char* p, WORD l, char* o, WORD s) override { return in_.TranslatePath(m, p, l, o, s); }
  STATUS TextToTimeDate(void* a, void* b, const char** t, WORD l, TIMEDATE* o) override {
    return in_.TextToTimeDate(a, b, t, l, o);
  }
  STATUS RecoverDatabaseList(const char* l, ArchivedLogCallbackFn c, DWORD o, WORD* f, DWORD t) override {
    return in_.RecoverDatabaseList(l, c, o, f, t);
  }
  STATUS ReadDatabaseRecord(DBHANDLE h, BYTE r[128]) override { return in_.ReadDatabaseRecord(h, r); }
  STATUS WriteDatabaseRecord(DBHANDLE h, const BYTE r[128]) override { return in_.WriteDatabaseRecord(h, r); }

 private:
  STATUS Handed(STATUS status, DWORD number, const char* path) {
    if (status == 0) {
      EXPECT_EQ(platform::ReadWholeFile(path, handedLogs[number]), ERROR_SUCCESS) << path;
    }
    return status;
  }
  DominoApi& in_;
  std::map<DBHANDLE, std::string> paths_;
};

std::map<std::string, std::string> Digests(const std::string& dataHost, const std::string& stateHost) {
  std::map<std::string, std::string> out;
  for (const std::string& relative : dominosim::FindDatabaseFiles(dataHost)) {
    std::string hex;
    EXPECT_EQ(dominosim::DigestDatabase(dataHost + "/" + relative, stateHost, &hex), 0) << relative;
    out[relative] = hex;
  }
  return out;
}

// Runs a program; its exit status.
int RunProgram(const std::vector<std::string>& args, pid_t* background = nullptr) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  if (background != nullptr) {
    *background = pid;
    return 0;
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(BackupEndToEnd, ServerWritingDuringTheBackupLosesNothing) {
  std::string pattern = (fs::temp_directory_path() / "ark-backup-e2e-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  const std::string root = pattern + "/host";
  struct Cleanup {
    std::string dir;
    ~Cleanup() {
      std::error_code ignored;
      fs::remove_all(dir, ignored);
    }
  } cleanup{pattern};

  ASSERT_EQ(RunProgram({DOMINOSIM_PATH, "install", "--root", root, "--databases", "8", "--unlogged", "2", "--size-mib",
                 "2", "--backend", "dir", "--log-extent-kib", "32", "--seed", "5"}),
            0);
  platform::SetHostRoot(root);
  snapshotsvc::RegisterClassServers();
  WatchedRuntime runtime(dominosim::Api());
  SetDominoApi(&runtime);
  struct Uninstall {
    ~Uninstall() { SetDominoApi(nullptr); }
  } uninstall;

  pid_t server = 0;
  ASSERT_EQ(RunProgram({NSERVER_PATH, "--root", root, "--ini", kIni, "--seed", "11", "--rate", "2000"}, &server), 0);
  struct StopServer {
    pid_t& pid;
    ~StopServer() {
      if (pid > 0) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
      }
    }
  } stopServer{server};
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // logs fill and roll

  // The server writes on through the snapshot; once the first database
  // leaves backup mode, it has stopped for good, so every database as it
  // stands after the run is the database as it was when its backup stopped.
  bool runningAtStop = false;
  runtime.beforeFirstStop = [&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // changes after the snapshot
    runningAtStop = ::waitpid(server, nullptr, WNOHANG) == 0;
    ::kill(server, SIGTERM);
    int status = 0;
    ::waitpid(server, &status, 0);
    server = 0;
  };

  DominoServerInfo info = TestServer();
  info.notesIniPath = kIni;
  BackupRequest request;
  testing::internal::CaptureStdout();
  const int result = BackupServer(request, info);
  testing::internal::GetCapturedStdout();
  const std::string text = ReportText();
  ASSERT_EQ(result, 0) << text;
  EXPECT_TRUE(runningAtStop) << "the server stopped before the snapshot";
  EXPECT_NE(text.find("Backup Completed for Server: srv1/Org"), std::string::npos);

  const std::string dataHost = root + "/volumes/D/Domino/Data";
  const std::string stateHost = root + "/dominosim/state/srv1";
  const std::map<std::string, std::string> atStop = Digests(dataHost, stateHost);
  ASSERT_EQ(atStop.size(), 8u);

  const std::string recent = platform::WideToAnsi(MakeRecentSnapshotName("srv1"));
  const std::string ledger = "L:\\ArkLedger\\srv1\\" + recent;

  // log_hint: the first logged database of the list, as the runtime told it.
  ASSERT_EQ(runtime.logInfo.size(), 8u);
  std::vector<std::string> unlogged;
  const WatchedRuntime::LogInfo* firstLogged = nullptr;
  for (const auto& told : runtime.logInfo) {
    if (told.logged == 0) unlogged.push_back(told.path);
    if (told.logged != 0 && firstLogged == nullptr) firstLogged = &told;
  }
  ASSERT_NE(firstLogged, nullptr);
  std::string hint;
  ASSERT_EQ(platform::ReadWholeFile(ledger + "\\log_hint", hint), ERROR_SUCCESS);
  EXPECT_EQ(hint, std::to_string(firstLogged->extent) + "\r\n" + LogSeries(firstLogged->id));
  std::vector<std::string> disabled;
  std::string path;
  ASSERT_EQ(ReadDisabledDatabases(ledger, disabled, path), 0);
  EXPECT_EQ(disabled, unlogged);
  EXPECT_EQ(unlogged.size(), 2u);

  // The logs marked archived are those the backup found full when it
  // started, and their copies are the extents as handed over, byte for byte.
  ASSERT_FALSE(runtime.markedLogs.empty()) << "no log was full enough to archive";
  for (const DWORD number : runtime.markedLogs) {
    EXPECT_LT(number, firstLogged->extent);
    const std::string& bytes = runtime.handedLogs[number];
    char name[32];
    std::snprintf(name, sizeof name, "S%07u.TXN", unsigned(number));
    std::string copy;
    ASSERT_EQ(platform::ReadWholeFile(ledger + "\\logs\\" + name, copy), ERROR_SUCCESS) << name;
    EXPECT_TRUE(copy == bytes) << name;
  }

  // Revert the data volume to the snapshot, apply the saved change
  // information: every database is back as it was when its backup stopped.
  {
    std::unique_ptr<platform::IClassFactory> factory;
    ASSERT_EQ(platform::CoGetClassObject(snapshot::CLSID_SnapshotService,
                                         platform::CLSCTX_INPROC_SERVER | platform::CLSCTX_LOCAL_SERVER, factory),
              S_OK);
    std::unique_ptr<snapshot::ISnapshotService> service;
    ASSERT_EQ(platform::CreateInstance(*factory, snapshot::IID_ISnapshotService, service), S_OK);
    ASSERT_EQ(service->RestoreSnapShot(u"D", platform::AnsiToWide(recent)), S_OK);
  }
  const std::map<std::string, std::string> inSnapshot = Digests(dataHost, stateHost);
  int changedAfterSnapshot = 0;
  for (const auto& [db, digest] : atStop) changedAfterSnapshot += inSnapshot.at(db) != digest;
  EXPECT_GT(changedAfterSnapshot, 0) << "no write landed after the snapshot: the test proves nothing";

  ASSERT_EQ(StartDominoRuntime(kIni), 0);
  for (const auto& [relative, digest] : atStop) {
    std::string winPath = "D:\\Domino\\Data\\" + relative;
    std::replace(winPath.begin(), winPath.end(), '/', '\\');
    std::string change;
    ASSERT_EQ(platform::ReadWholeFile(MakeChangeInfoPath(ledger, winPath), change), ERROR_SUCCESS) << winPath;
    ASSERT_GE(change.size(), 8u);
    auto word = [&](std::size_t at) {
      return DWORD(BYTE(change[at])) | DWORD(BYTE(change[at + 1])) << 8 | DWORD(BYTE(change[at + 2])) << 16 |
             DWORD(BYTE(change[at + 3])) << 24;
    };
    EXPECT_EQ((std::uint64_t(word(4)) << 32 | word(0)), change.size() - 8) << winPath;
    DWORD context = 0;
    ASSERT_EQ(runtime.ApplyChangeInfoStart(&context, winPath.c_str(), 0, word(0), word(4)), 0) << winPath;
    for (std::size_t at = 8; at < change.size(); at += 32768) {
      const DWORD n = DWORD(std::min<std::size_t>(32768, change.size() - at));
      ASSERT_EQ(runtime.ApplyChangeInfo(context, 0, change.data() + at, n), 0) << winPath;
    }
    ASSERT_EQ(runtime.ApplyChangeInfoEnd(context, 0), 0) << winPath;
  }
  runtime.TermRuntime();
  EXPECT_EQ(Digests(dataHost, stateHost), atStop);
}

}  // namespace
