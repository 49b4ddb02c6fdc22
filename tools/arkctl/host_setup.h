// The local settings of the service on this host, as `arkctl setup` reads,
// proposes, checks and writes them: CHANGE_INFO_DIR and CONFIGWIZ in ark.ini,
// ReportFolder in the registry, and ark's own snapshot component's backend,
// snapshot store and disks. Everything goes through the platform layer, so
// the Windows build writes the machine's ark.ini and registry and the POSIX
// build the host root's files.
#pragma once

#include <string>
#include <vector>

#include "common/records.h"

namespace ark {

// The Domino installation as discovery finds it, and the settings in force.
struct HostLayout {
  std::string computerName;
  std::int32_t discoveryStatus = 0;  // DiscoverDominoServers's result
  std::vector<DominoServerInfo> servers;
  bool componentInstalled = false;  // the snapshot component's classes can be reached
};

// The values the wizard writes.
struct SetupValues {
  std::string ledger;   // CHANGE_INFO_DIR ("L:\ArkLedger")
  std::string reports;  // ReportFolder ("L:\ArkReports")
  std::string store;    // SnapshotStore as a Windows path; "" keeps snapshots beside each drive
  std::string backend;  // "dir" or "btrfs"
};

// Discovery of the servers with their storage (as the service discovers them).
HostLayout ReadHostLayout();

// The drive of each server's data directory and of its log directory, with no
// letter twice, in the order found: the drives that need a disk entry.
std::vector<char> DataAndLogDrives(const HostLayout& layout);

// The settings in force where there are any, else sensible defaults: the
// ArkLedger and the reports on the first drive that holds logs but no data
// (L: when none does), the snapshots beside each drive, the dir backend.
SetupValues ProposedValues(const HostLayout& layout);

// Why a value cannot be used ("" when it can): not a full path on a drive,
// the ArkLedger or the snapshot store on a server's data volume (a restore
// reverts that volume), an unknown backend.
std::string LedgerRefusal(const HostLayout& layout, const std::string& ledger);
std::string ReportsRefusal(const std::string& reports);
std::string StoreRefusal(const HostLayout& layout, const std::string& store);
std::string BackendRefusal(const std::string& backend);

// Free space of the drive of a Windows path, as "12345 MiB free", or
// "free space unknown".
std::string FreeSpaceText(const std::string& path);

// Creates the folders (the ArkLedger, the report folder with one folder per
// report type, the snapshot store), then writes CHANGE_INFO_DIR, ReportFolder,
// the component's configuration with one disk entry per data or log drive
// (an existing entry's names kept) and last CONFIGWIZ=1. Each step done is a
// line of *done. False with *error at the first step that fails.
bool WriteSetup(const HostLayout& layout, const SetupValues& values, std::vector<std::string>* done,
                std::string* error);

// One setting a backup or restore of a server needs.
struct SettingCheck {
  std::string setting;  // "CHANGE_INFO_DIR"
  std::string value;    // what is set
  bool sound = true;
  std::string finding;  // why it is not sound, or a remark
};

// Every setting a backup or restore of the server needs, judged as the runs
// judge them. Changes nothing.
std::vector<SettingCheck> CheckServer(const HostLayout& layout, const DominoServerInfo& server);

}  // namespace ark
