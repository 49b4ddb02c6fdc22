// A whole simulated host for backup and restore cycles: a temporary root
// built by `dominosim install`, the real arkserver on a free loopback port,
// arkctl for every command, nserver for the workload and `dominosim digest`
// to compare databases. Optionally the volumes live on a loop-mounted btrfs
// image, or the log drive on a small tmpfs. Everything started is stopped,
// unmounted and removed when the host goes.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tests/dominosim/sim_host.h"
#include "tests/service/server_process.h"
#include "tests/snapshotsvc/snapshot_host.h"

namespace scenario {

using servicetest::ToolResult;

inline constexpr const char* kServer = "srv1";
inline constexpr const char* kRestoreComplete = "SNAPSHOT RESTORE AND RECOVERY COMPLETE.";

// Options of `dominosim install`: a small host so that whole cycles stay fast.
struct HostShape {
  std::string backend = "dir";
  std::string logging = "archive";
  int partitions = 2;
  int databases = 8;
  int unlogged = 1;
  std::string sizeMib = "0.5";
  int logExtentKib = 32;
  std::string translogPath = "absolute";  // "relative": the logs below the data directory, on D:
  std::vector<std::string> serviceLauncher;  // runs arkserver (e.g. prlimit with its options)
};

struct Digests {
  int exitCode = -1;
  std::map<std::string, std::string> byPath;  // Windows path -> sha256, or "ERROR ..."
  std::string text;
};

class ScenarioHost {
 public:
  ScenarioHost() = default;
  ~ScenarioHost();
  ScenarioHost(const ScenarioHost&) = delete;
  ScenarioHost& operator=(const ScenarioHost&) = delete;

  // Before Install: the volumes on a btrfs image mounted over the volumes
  // folder; false with *why when the machine does not allow it.
  bool UseBtrfs(std::string* why);
  // Before Install: the log drive E: on a tmpfs of `kib` kilobytes.
  bool UseSmallLogDrive(int kib, std::string* why);

  // Builds the host and starts arkserver on it.
  ::testing::AssertionResult Install(const HostShape& shape = {});
  // Stops arkserver and starts it again through another launcher.
  ::testing::AssertionResult RestartService(const std::vector<std::string>& launcher);

  const std::string& root() const { return ark_.root(); }
  std::string ServiceErrors() const { return ark_.stderrText(); }  // arkserver's standard error
  std::uint16_t port() const { return ark_.port(); }
  const std::string& notesIni() const { return notesIni_; }
  std::string HostPath(const std::string& windowsPath) const;
  std::string DataDir() const { return HostPath(dataDirectory_); }
  std::string LogDir() const { return HostPath(logDirectory_); }
  const std::string& LogDirectory() const { return logDirectory_; }  // the Windows path
  std::string VolumeDir(char drive) const { return HostPath(std::string(1, drive) + ":"); }
  // The server's ArkLedger directory, and the one of one snapshot (matched
  // without letter case, as snapshot names are).
  std::string ServerLedger() const;
  std::string SnapshotLedger(const std::string& snapshotName) const;
  // The databases the backup of that snapshot found without logging.
  std::set<std::string> Unlogged(const std::string& snapshotName) const;

  ToolResult Ctl(std::vector<std::string> args) const;
  ToolResult Backup(unsigned keep = 0) const;
  ToolResult Restore(const std::string& snapshot, bool pointInTime) const;
  ToolResult Sim(const std::string& command) const;  // dominosim COMMAND --root --ini
  std::vector<std::string> SnapshotNames() const;    // as discovery lists them
  // The one snapshot not named "...__recent" (a host with two snapshots).
  std::string OlderSnapshot() const;
  std::vector<std::string> Reports(const std::string& type) const;
  std::string Report(const std::string& type, const std::string& name) const;

  Digests Digest() const;

  // nserver writing `rate` transactions a second until StopServer.
  void StartServer(double rate, unsigned seed);
  void StopServer();
  bool ServerRunning() const { return nserver_ != nullptr; }
  // Waits (nserver running) until the log has moved `extents` extents on.
  bool AdvanceLog(std::uint32_t extents) const;
  // The sequence number the log gives its next record, and a wait until it
  // is past `next` (a record was logged since it was read).
  std::uint64_t NextRecord() const;
  bool WaitForRecordAfter(std::uint64_t next) const;

 private:
  servicetest::ServerProcess ark_;
  nettest::TempDir scratch_;
  std::unique_ptr<snaptest::Mount> volumesMount_;
  std::unique_ptr<snaptest::Mount> logMount_;
  std::unique_ptr<simtest::ServerProcess> nserver_;
  bool started_ = false;
  std::map<char, std::string> drives_;
  std::string notesIni_;
  std::string dataDirectory_;
  std::string logDirectory_;
};

// The hosts a whole cycle runs on: a snapshot backend, and where the
// transaction log lives.
struct HostVariant {
  const char* name;
  const char* backend;       // "dir" or "btrfs"
  const char* translogPath;  // "absolute" (its own drive E:) or "relative" (below the data directory)
};
inline const HostVariant kHostVariants[] = {
    {"dir", "dir", "absolute"},
    {"btrfs", "btrfs", "absolute"},
    {"dir_logs_on_data_volume", "dir", "relative"},
};
inline std::string VariantName(const ::testing::TestParamInfo<HostVariant>& info) { return info.param.name; }
inline void PrintTo(const HostVariant& variant, std::ostream* os) { *os << variant.name; }

// One host per test, of the variant the test parameter names; the btrfs
// runs skip, saying why, where no btrfs image can be loop-mounted.
class BackendTest : public ::testing::TestWithParam<HostVariant> {
 protected:
  void SetUp() override;
  ScenarioHost host_;
  int logExtentKib_ = HostShape{}.logExtentKib;  // a fixture may choose larger extents
};

// Sorted names of the files directly in dir.
std::vector<std::string> FileNames(const std::string& dir);

// Every path below dir with the content of each file: equal listings mean
// an untouched tree.
std::vector<std::string> Tree(const std::string& dir);

// A database that up-to-the-minute recovery rolls forward: logged, not a
// template, not log.nsf.
bool RolledForward(const std::string& windowsPath, const std::set<std::string>& unlogged);

std::map<std::string, std::string> RolledForwardOnly(const Digests& digests, const std::set<std::string>& unlogged);

inline bool Has(const std::string& text, const std::string& needle) {
  return text.find(needle) != std::string::npos;
}

}  // namespace scenario
