// A simulated Domino host under a temporary root, with the real programs
// around it: arkserver as a child process that a test may kill, arkctl,
// dominosim and nserver. Everything a test starts is stopped and the root
// removed when the host goes.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tests/service/server_process.h"

namespace faults {

using servicetest::ReadFile;
using servicetest::ToolResult;

inline constexpr const char* kIni = "C:\\Lotus\\Domino\\notes.ini";
inline constexpr const char* kServer = "srv1";
inline constexpr const char* kSnapshotKey = "SOFTWARE\\ark\\Snapshot Component";

struct HostShape {
  int databases = 12;
  double sizeMib = 4;
  int logExtentKib = 0;      // 0: the installer's default
  std::string reportFolder;  // empty: the installer's default (on L:)
};

inline HostShape Shape(int databases, double sizeMib, int logExtentKib = 0, const std::string& reportFolder = "") {
  HostShape shape;
  shape.databases = databases;
  shape.sizeMib = sizeMib;
  shape.logExtentKib = logExtentKib;
  shape.reportFolder = reportFolder;
  return shape;
}

// A database that recovery rolls forward: not log.nsf, not a template.
bool RolledForward(const std::string& windowsPath);

// Digests keeping only the databases that recovery rolls forward.
std::map<std::string, std::string> RolledForwardOnly(const std::map<std::string, std::string>& digests);

// True when text holds needle.
inline bool Has(const std::string& text, const std::string& needle) {
  return text.find(needle) != std::string::npos;
}

// Polls until check() holds or timeoutMs passes; the last result.
template <typename Check>
bool WaitFor(Check check, long timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (check()) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

class FaultHost {
 public:
  explicit FaultHost(const HostShape& shape = {});
  ~FaultHost();
  FaultHost(const FaultHost&) = delete;
  FaultHost& operator=(const FaultHost&) = delete;

  bool installed() const { return installed_; }
  const std::string& root() const { return root_; }
  const std::string& scratch() const { return scratch_; }
  std::string VolumeDir(char drive) const { return root_ + "/volumes/" + std::string(1, drive); }

  // arkserver on a free port; false (with its output in the failure) when
  // it did not come up.
  bool StartServer(int ioTimeoutSeconds = 45);
  void KillServer();  // SIGKILL, reaped
  pid_t serverPid() const { return server_; }
  std::uint16_t port() const { return port_; }
  std::string ServerOutput() const { return ReadFile(scratch_ + "/arkserver.out"); }

  ToolResult Ctl(std::vector<std::string> args) const;
  // arkctl in the background, its standard output going to CtlOutputPath().
  pid_t StartCtl(std::vector<std::string> args) const;
  std::string CtlOutputPath() const { return scratch_ + "/ctl-bg.out"; }
  // dominosim COMMAND --root ROOT --ini INI.
  ToolResult Sim(const std::string& command) const;

  // nserver writing rate transactions a second until StopWorkload.
  bool StartWorkload(double rate, unsigned seed);
  void StopWorkload();

  // Database digests by Windows path (dominosim digest).
  std::map<std::string, std::string> Digests() const;

  struct Snapshot {
    std::string name;
    std::string stamp;  // creation time, as arkctl lists it
  };
  std::vector<Snapshot> Snapshots() const;
  std::string SnapshotNameWithStamp(const std::string& stamp) const;
  std::vector<std::string> Reports(const std::string& type) const;
  std::string Report(const std::string& type, const std::string& name) const;

  // A backup through arkctl. Dated snapshot names carry the second of their
  // creation, so two backups of a test never start within the same second.
  ToolResult Backup();
  // For backups a test runs itself: SpaceBackups before it starts (waits for
  // the second after the last backup ended), BackupEnded once it is over.
  void SpaceBackups();
  void BackupEnded() { lastBackup_ = std::time(nullptr); }
  ToolResult Restore(const std::string& snapshot, bool pointInTime) const;

  // Sets the snapshot component's fault list; an empty list removes it.
  void SetFailOn(const std::string& operations) const;

 private:
  std::string base_;     // temporary directory holding root_ and scratch_
  std::string root_;
  std::string scratch_;  // program output
  bool installed_ = false;
  pid_t server_ = -1;
  pid_t workload_ = -1;
  std::uint16_t port_ = 0;
  std::time_t lastBackup_ = 0;
};

// The databases of the host that another process cannot put into backup
// mode (path and status), found through the simulated runtime of this
// process; empty when every backup mode has been given up.
std::vector<std::string> DatabasesHeldInBackup(const FaultHost& host);

}  // namespace faults
