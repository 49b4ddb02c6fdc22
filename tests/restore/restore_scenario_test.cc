// Whole backup and restore cycles on a simulated Domino host (dominosim
// runtime, nserver workload, the directory snapshot backend): after a
// restore every database holds exactly what it should, compared by digest.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <algorithm>
#include <map>
#include <set>
#include <memory>

#include "backup/backup_run.h"
#include "domino/discovery.h"
#include "domino/domino_api.h"
#include "dominosim/digest.h"
#include "dominosim/install.h"
#include "dominosim/server_config.h"
#include "dominosim/sim_api.h"
#include "output/output.h"
#include "platform/com.h"
#include "platform/host.h"
#include "platform/text.h"
#include "restore/restore_hooks.h"
#include "restore/restore_run.h"
#include "snapshot/snapshot_service.h"
#include "snapshotsvc/configure.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

// The simulated server process; stopped with SIGTERM (or awaited) on demand.
class Nserver {
 public:
  Nserver(const std::string& root, const std::string& ini, const std::string& transactions) {
    std::vector<std::string> args = {NSERVER_PATH, "--root", root, "--ini", ini, "--rate", "0",
                                     "--seed", std::to_string(++seed_), "--transactions", transactions};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (::posix_spawn(&pid_, NSERVER_PATH, nullptr, nullptr, argv.data(), environ) != 0) pid_ = -1;
  }
  ~Nserver() { Stop(); }
  Nserver(const Nserver&) = delete;
  Nserver& operator=(const Nserver&) = delete;
  bool running() const { return pid_ > 0; }
  void Stop() { End(true); }
  void Wait() { End(false); }

 private:
  void End(bool terminate) {
    if (pid_ <= 0) return;
    if (terminate) ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
  }
  pid_t pid_ = -1;
  static inline int seed_ = 10;
};

// The real snapshot component, with a hook that runs right after a snapshot
// was taken (while the databases are still in backup mode).
class HookedSnapshotService : public snapshot::ISnapshotService {
 public:
  HookedSnapshotService(std::unique_ptr<snapshot::ISnapshotService> real, std::function<void()>* hook)
      : real_(std::move(real)), hook_(hook) {}
  HRESULT CreateSnapShot(const snapshot::SnapshotDriveSet& drives, const std::u16string& name) override {
    HRESULT hr = real_->CreateSnapShot(drives, name);
    if (*hook_) (*hook_)();
    return hr;
  }
  HRESULT RestoreSnapShot(const std::u16string& d, const std::u16string& n) override {
    return real_->RestoreSnapShot(d, n);
  }
  HRESULT DeleteSnapShot(const std::u16string& d, const std::u16string& n, std::uint8_t* f) override {
    return real_->DeleteSnapShot(d, n, f);
  }
  HRESULT RenameSnapShot(const std::u16string& d, const std::u16string& o, const std::u16string& n) override {
    return real_->RenameSnapShot(d, o, n);
  }
  HRESULT EnumerateSnapShots(const std::u16string& d, snapshot::SnapshotList& l, std::uint32_t one) override {
    return real_->EnumerateSnapShots(d, l, one);
  }

 private:
  std::unique_ptr<snapshot::ISnapshotService> real_;
  std::function<void()>* hook_;
};

class HookedFactory : public platform::IClassFactory {
 public:
  HookedFactory(std::shared_ptr<platform::IClassFactory> real, std::function<void()>* hook)
      : real_(std::move(real)), hook_(hook) {}
  HRESULT CreateInstance(const platform::GUID& iid, std::unique_ptr<platform::IUnknown>& out) override {
    std::unique_ptr<snapshot::ISnapshotService> service;
    HRESULT hr = platform::CreateInstance(*real_, iid, service);
    if (FAILED(hr)) return hr;
    out = std::make_unique<HookedSnapshotService>(std::move(service), hook_);
    return S_OK;
  }

 private:
  std::shared_ptr<platform::IClassFactory> real_;
  std::function<void()>* hook_;
};

class RestoreScenarioTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "ark-restore-scenario-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    top_ = pattern;
    dominosim::InstallOptions options;
    options.root = top_ + "/host";
    options.backend = "dir";
    options.databases = 8;
    options.unlogged = 2;
    options.sizeMiB = 1;
    options.extentKiB = 256;
    std::string error;
    ASSERT_TRUE(dominosim::InstallHost(options, installed_, &error)) << error;
    root_ = installed_.root;
    platform::SetHostRoot(root_);
    ini_ = installed_.servers.at(0).notesIni;
    ASSERT_EQ(dominosim::LoadServerConfig(ini_, config_), 0);

    SetDominoApi(&dominosim::Api());
    snapshotsvc::RegisterClassServers();
    std::unique_ptr<platform::IClassFactory> real;
    ASSERT_EQ(platform::CoGetClassObject(snapshot::CLSID_SnapshotService,
                                         platform::CLSCTX_INPROC_SERVER, real),
              S_OK);
    std::shared_ptr<platform::IClassFactory> shared(std::move(real));
    platform::RegisterClassServer(snapshot::CLSID_SnapshotService,
                                  [this, shared](std::unique_ptr<platform::IClassFactory>& out) {
                                    out = std::make_unique<HookedFactory>(shared, &afterSnapshot_);
                                    return S_OK;
                                  });
    // Other tests of the machine may run their own nserver: only this
    // test's server counts as "Domino is running".
    RestoreHostChecks checks;
    checks.isDominoRunning = [this] { return server_ != nullptr && server_->running(); };
    // Every log counts as 64 MB in the space check; the data checked here
    // must not depend on how full the test machine's disk is.
    checks.freeDiskMegabytes = [](const std::string&, std::uint32_t& megabytes) {
      megabytes = 1u << 30;
      return true;
    };
    SetRestoreHostChecks(checks);
  }
  void TearDown() override {
    server_.reset();
    ResetRestoreHostChecks();
    platform::UnregisterClassServer(snapshot::CLSID_SnapshotService);
    platform::UnregisterClassServer(snapshot::CLSID_DiskService);
    SetDominoApi(nullptr);
    std::error_code ignored;
    if (!top_.empty()) fs::remove_all(top_, ignored);
  }

  DominoServerInfo Discover() {
    DiscoveryResult result;
    EXPECT_EQ(DiscoverDominoServers(result), 0);
    EXPECT_EQ(result.servers.size(), 1u);
    return result.servers.empty() ? DominoServerInfo() : result.servers[0];
  }

  // A backup while nserver writes: the server stops right after the
  // snapshot, so what it wrote after the snapshot is only in the change
  // information, and the databases then stay as they were at the backup's end.
  void BackupUnderLoad() {
    server_ = std::make_unique<Nserver>(root_, ini_, "100000");
    usleep(300 * 1000);
    afterSnapshot_ = [this] {
      usleep(200 * 1000);
      server_->Stop();
    };
    DominoServerInfo server = Discover();
    BackupRequest request;
    ClearReportText();
    ASSERT_EQ(BackupServer(request, server), 0) << ReportText();
    afterSnapshot_ = nullptr;
    server_.reset();
  }

  // n transactions of workload, run to their end.
  void Workload(int transactions) {
    server_ = std::make_unique<Nserver>(root_, ini_, std::to_string(transactions));
    server_->Wait();
    server_.reset();
  }

  std::map<std::string, std::string> Digests() {
    std::map<std::string, std::string> digests;
    for (const std::string& relative : dominosim::FindDatabaseFiles(config_.dataDirHost)) {
      std::string hex;
      const STATUS status =
          dominosim::DigestDatabase(config_.dataDirHost + "/" + relative, config_.stateDirHost, &hex);
      digests[relative] = status == 0 ? hex : "status " + std::to_string(status);
    }
    return digests;
  }

  // Overwrites the middle of one database and deletes another.
  void DamageDataVolume() {
    const std::vector<std::string> files = dominosim::FindDatabaseFiles(config_.dataDirHost);
    ASSERT_GE(files.size(), 2u);
    const std::string first = config_.dataDirHost + "/" + files[0];
    const auto size = fs::file_size(first);
    FILE* f = std::fopen(first.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    std::fseek(f, long(size / 2), SEEK_SET);
    const std::string junk(8192, 'X');
    std::fwrite(junk.data(), 1, junk.size(), f);
    std::fclose(f);
    fs::remove(config_.dataDirHost + "/" + files[1]);
  }

  RestoreRequest Request(const DominoServerInfo& server, const std::string& snapshotSuffix,
                         std::uint8_t pointInTime) {
    RestoreRequest request;
    request.server = server;
    for (const SnapshotEntry& entry : server.snapshots) {
      if (entry.name.size() >= snapshotSuffix.size() &&
          platform::EqualsNoCase(entry.name.substr(entry.name.size() - snapshotSuffix.size()),
                                 snapshotSuffix)) {
        request.snapshot = entry;
      }
    }
    EXPECT_FALSE(request.snapshot.name.empty()) << "no snapshot ending in " << snapshotSuffix;
    request.pointInTime = pointInTime;
    return request;
  }

  std::set<std::string> ActiveLogs() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(config_.logDirHost)) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  std::string top_, root_, ini_;
  dominosim::InstallResult installed_;
  dominosim::ServerConfig config_;
  std::unique_ptr<Nserver> server_;
  std::function<void()> afterSnapshot_;
};

TEST_F(RestoreScenarioTest, PointInTimeGivesBackEveryDatabaseAsTheBackupEnded) {
  Workload(200);
  BackupUnderLoad();
  const std::map<std::string, std::string> atBackup = Digests();

  Workload(300);
  DamageDataVolume();
  ASSERT_NE(Digests(), atBackup);

  RestoreRequest request = Request(Discover(), "__recent", 1);
  ASSERT_EQ(PerformRestore(request), 0) << request.output.accumulated;
  EXPECT_NE(request.output.accumulated.find("SNAPSHOT RESTORE AND RECOVERY COMPLETE."),
            std::string::npos);
  EXPECT_NE(request.output.accumulated.find("Applied "), std::string::npos)
      << "the backup recorded no change information: the test did not write during it";
  EXPECT_EQ(Digests(), atBackup);
}

TEST_F(RestoreScenarioTest, UpToTheMinuteReplaysTheLogsTheArkLedgerHeld) {
  Workload(100);
  BackupUnderLoad();  // backup 1
  Workload(600);      // several log extents
  BackupUnderLoad();  // backup 2: archives the finished logs into the ArkLedger
  Workload(600);      // the server drops archived extents as it rolls over
  const std::map<std::string, std::string> latest = Digests();
  const std::set<std::string> logsBefore = ActiveLogs();
  DamageDataVolume();

  DominoServerInfo server = Discover();
  // Backup 1 now carries its dated name: the older of the two snapshots
  // (listed first: a digit sorts before the "R" of "__RECENT").
  ASSERT_EQ(server.snapshots.size(), 2u);
  const std::string older = server.snapshots[0].name;
  ASSERT_FALSE(platform::EqualsNoCase(older.substr(older.size() - 8), "__recent")) << older;
  RestoreRequest request = Request(server, older, 0);
  ASSERT_EQ(PerformRestore(request), 0) << request.output.accumulated;
  const std::string& out = request.output.accumulated;
  EXPECT_NE(out.find("Copying log file : S"), std::string::npos)
      << "no log had to come from the ArkLedger: the test did not exercise the copy\n" << out;
  EXPECT_EQ(ActiveLogs(), logsBefore) << "copied logs must be removed after recovery";
  if (std::getenv("ARK_SHOW_RESTORE")) std::fprintf(stderr, "%s", out.c_str());

  const std::map<std::string, std::string> restored = Digests();
  const std::vector<dominosim::PlannedDatabase> planned = dominosim::PlanDatabases(8, 2);
  int compared = 0;
  for (const dominosim::PlannedDatabase& db : planned) {
    std::string relative = db.relativePath;
    std::replace(relative.begin(), relative.end(), '\\', '/');
    // Recovery rolls forward the logged databases; log.nsf and templates
    // are left out of it and stay as the backup had them.
    const fs::path name(relative);
    if (!db.logged || platform::EqualsNoCase(name.extension().string(), ".ntf") ||
        platform::EqualsNoCase(name.stem().string(), "log")) {
      continue;
    }
    ++compared;
    SCOPED_TRACE(relative);
    ASSERT_TRUE(latest.count(relative));
    EXPECT_EQ(restored.at(relative), latest.at(relative));
  }
  EXPECT_GE(compared, 3);
}

}  // namespace
