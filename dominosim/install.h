// Building a simulated host under a host root: drive map, volumes, Domino
// registry values, servers with notes.ini, databases and logs, the
// service's ark.ini and report folders, and the snapshot component.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace dominosim {

struct InstallOptions {
  // The host root of a simulated host, whose volumes are made under it and
  // mapped to the drive letters. Empty: the drives D:, E: and L: exist
  // already (a Windows machine, or a host root whose drive map names them)
  // and the installation is laid out on them.
  std::string root;
  // Where the snapshot component keeps snapshots (a Windows path on a drive
  // of its own); empty: beside each volume's directory (host roots only).
  std::string snapshotStore;
  int partitions = 0;                 // 0: one server that is not partitioned
  int databases = 12;                 // per server
  int unlogged = 2;                   // of those, not transaction-logged
  double sizeMiB = 2;                 // data per server
  std::string backend = "dir";        // dir | btrfs | none
  std::string layout = "classic";     // classic | newer | newer-one-comma
  std::string logging = "archive";    // archive | circular | none
  std::string translogPath = "absolute";  // absolute (E:\Logs) | relative (logdir)
  std::uint32_t extentKiB = 256;
  std::string computerName = "ARKHOST";
  // The drive letters of the data volume, the log volume and the ledger
  // volume (ArkLedger and reports), in that order.
  std::string drives = "DEL";
  std::string reportFolder;   // empty: <ledger drive>:\Reports
  std::string changeInfoDir;  // empty: <ledger drive>:\ArkLedger
  std::string organization = "Org";
  std::uint64_t seed = 1;
};

struct InstalledServer {
  int partition = 1;
  std::string canonicalName;
  std::string notesIni;
  std::string dataDirectory;
  std::string logDirectory;  // empty without logging
  std::string logging;
  std::vector<std::string> databases;  // Windows paths
};

struct InstallResult {
  std::string root;
  std::string reportFolder;
  std::string changeInfoDir;
  std::vector<std::pair<char, std::string>> drives;
  std::vector<InstalledServer> servers;
};

// False with *error set when the host cannot be built (options out of range,
// a root that already holds a host, a failing volume or write).
bool InstallHost(const InstallOptions& options, InstallResult& result, std::string* error);
void PrintInstall(const InstallOptions& options, const InstallResult& result, std::FILE* out);

// Windows paths of the database files of one server, relative to its data
// directory, and whether each is logged (the list the installer makes).
struct PlannedDatabase {
  std::string relativePath;  // "mail\user1.nsf"
  bool logged = true;
  std::string title;
};
std::vector<PlannedDatabase> PlanDatabases(int count, int unlogged);

}  // namespace dominosim
