// A whole simulated host for the system tests: `dominosim install` builds it
// under a temporary root, the real arkserver serves it on a free loopback
// port, arkctl, nserver and `dominosim digest` drive and check it; on request
// the volumes lie on a btrfs image and a drive on a tmpfs. All of it goes
// with the object.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "common/records.h"
#include "platform/socket.h"
#include "tests/support/child_process.h"
#include "tests/support/loopback.h"
#include "tests/support/snapshotsvc_mount.h"
#include "tests/support/temp_host.h"
#include "tests/support/text_checks.h"

namespace ark::systest {

struct Result {
  int exitCode = -1;
  std::string out;  // standard output and error
};

// Options of `dominosim install`, and how arkserver starts.
struct Shape {
  std::string backend = "dir";
  int partitions = 0, databases = 12, unlogged = 0, logExtentKib = 32;
  std::string sizeMib = "4";
  std::string translogPath = "absolute";  // "relative": the logs below the data directory, on D:
  std::vector<std::string> launcher;      // runs arkserver (e.g. prlimit with its options)
  std::uint64_t ledgerBytes = 0;          // L: on a tmpfs of this size (0: no)
  bool startService = true;
  std::uint64_t dataBytes = 0;            // D: a tmpfs of this size mounted at its directory (0: no)
};

// A program run to its end, its standard error after its output.
Result RunProgram(const std::vector<std::string>& argv);

using Digests = std::map<std::string, std::string>;  // Windows path -> sha256
struct Snapshot {
  std::string name, stamp;  // stamp: the creation time, as arkctl lists it
};

class SystemHost {
 public:
  SystemHost() : root_((scratch_.path() / "host").string()) {}
  ~SystemHost();

  // Before Install: the volumes on a btrfs image; false with *why when the
  // machine does not allow it.
  bool UseBtrfs(std::string* why);
  void LeaveFree(char drive, std::uint64_t leave) { mounts_.at(drive)->LeaveFree(leave); }

  // Builds the host and starts arkserver; *skip says why when the small
  // ledger drive cannot be mounted (nothing started then).
  ::testing::AssertionResult Install(const Shape& shape = {}, std::string* skip = nullptr);
  ::testing::AssertionResult StartService(const std::vector<std::string>& launcher = {});
  // arkserver_crash, exiting hard when a run reaches step.
  ::testing::AssertionResult StartCrashingService(const std::string& step);
  void StopService();  // SIGTERM; a clean stop exits 0
  void KillService() { service_.reset(); }  // SIGKILL
  int ServiceEnded();  // waits for the service to end by itself: its exit code
  std::string ServiceOutput() const;
  std::string EventLog() const { return ReadHostFile(root_ + "/Logs/Application.log"); }
  std::uint16_t port() const { return port_; }
  int ServicePid() const { return service_->id(); }

  std::string server = "srv1";  // the name arkctl is given
  const std::string& root() const { return root_; }
  std::string HostPath(const std::string& windowsPath) const;
  std::string DataDir() const { return HostPath(dataDirectory_); }
  std::string LogDir() const { return HostPath(logDirectory_); }
  const std::string& LogDirectory() const { return logDirectory_; }  // the Windows path
  std::string ServerLedger() const { return HostPath("L:\\ArkLedger\\") + server; }
  std::set<std::string> Unlogged(const std::string& snapshot) const;  // its disabled_databases

  Result Ctl(std::vector<std::string> args) const;
  // Dated snapshot names carry the second of their creation: two backups
  // never start within the same second (SpaceBackups, BackupEnded).
  Result Backup();
  void SpaceBackups() const;
  void BackupEnded() { lastBackup_ = std::time(nullptr); }
  Result Restore(const std::string& snapshot, bool pointInTime) const;
  Result Sim(const std::string& command) const;  // dominosim's command for the first server
  // A damaged database fails the test. content: the digests of content alone
  // (no instance or replica id), which a restored copy shares with its original.
  Digests Digest(bool content = false) const;
  std::vector<Snapshot> Snapshots() const;
  std::string NameOf(const Snapshot& snapshot) const;  // its name now ("" when gone)
  std::vector<std::string> Reports(const std::string& type) const;
  std::string LastReport(const std::string& type) const;
  void SetFailOn(const std::string& operations) const;  // the component's faults ("" none)
  std::vector<std::string> HeldInBackup() const;        // databases another process cannot back up

  // nserver (rate 0: unthrottled), and then waits for the log to move on by extents.
  bool StartWorkload(double rate, unsigned seed, std::uint32_t extents = 0);
  void StopWorkload();
  bool AdvanceLog(std::uint32_t extents) const;  // waits for the log to move on

 private:
  bool SmallDrive(char drive, std::uint64_t bytes, std::string* why);  // on a tmpfs
  TempHostRoot scratch_;
  std::string root_, notesIni_, dataDirectory_, logDirectory_;
  std::map<char, std::string> drives_;
  std::map<char, std::unique_ptr<snaptest::Mount>> mounts_;  // 'V': the volumes; else a small drive
  ::testing::AssertionResult Start(std::vector<std::string> argv, const std::vector<std::string>& env);
  std::unique_ptr<ChildProcess> service_, workload_;
  std::uint16_t port_ = 0;
  std::int64_t lastBackup_ = 0;
};

// Recovery rolls forward the databases that log: not log.nsf, no template,
// none the backup found without logging.
Digests RolledForwardOnly(const Digests& digests, const std::set<std::string>& unlogged = {});
std::vector<std::string> FileNames(const std::string& dir);  // sorted, files only
// Every text of says in the output, none of never.
::testing::AssertionResult Says(const std::string& output, const std::vector<std::string>& says,
                                const std::vector<std::string>& never = {});
// A run that exited 0 and says so.
::testing::AssertionResult Ok(const Result& run, const std::vector<std::string>& says = {},
                              const std::vector<std::string>& never = {});

// Polls for an event, generously (a loaded machine is slow, never wrong).
template <typename Check>
bool WaitFor(Check check) {
  for (int i = 0; i < 12000 && !check(); ++i) ::usleep(10000);
  return check();
}

// A client that speaks the wire itself, to walk away from a run at a line
// of its text or to send records no arkctl sends.
class StreamingClient {
 public:
  explicit StreamingClient(std::uint16_t port);
  platform::SOCKET get() const { return socket_.get(); }
  DominoServerInfo Discover(const std::string& name);  // by common or whole name
  void StartBackup(const DominoServerInfo& server, const BackupRequest& request = {});
  void StartRestore(const DominoServerInfo& server, const SnapshotEntry& snapshot, bool pointInTime);
  // Reads the running text until a piece holds needle (true), or "done" or
  // the end of the connection (false); what came goes to seen.
  bool ReadUntil(const std::string& needle, std::string& seen);
  void Vanish() { socket_.reset(); }

 private:
  platform::Socket socket_;
};

// Raw bytes over a connection, beside the primitives under test; a loaded
// host answers late, never wrongly.
using nettest::Bytes;
using nettest::WriteRaw;
inline std::string ReadRaw(platform::SOCKET s, std::size_t n, long timeoutMs = 30000) {
  return nettest::ReadRaw(s, n, timeoutMs);
}

}  // namespace ark::systest
