#include "tools/arkctl/host_setup.h"

#include <algorithm>
#include <cctype>

#include "domino/discovery.h"
#include "domino/host_utils.h"
#include "domino/settings.h"
#include "platform/host.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "reports/report_store.h"
#include "snapshot/disk_listing.h"
#include "snapshotsvc/component_config.h"

namespace ark {

namespace {

constexpr const char* kChangeInfoDirKey = "CHANGE_INFO_DIR";
constexpr const char* kConfigWizardKey = "CONFIGWIZ";
constexpr int kReportTypes = 4;
// Where the component is a COM server of the system (Windows), its own
// registration writes the class keys; under a host root the wizard does.
constexpr bool kWritesClassKeys = ARK_SETUP_WRITES_CLASS_KEYS;

std::string DriveText(char letter) { return std::string(1, letter) + ":"; }

bool IsFullPath(const std::string& path) {
  return DriveLetterOf(path) != 0 && path.size() > 3 && path[2] == '\\';
}

// Why a folder cannot be made at path: not a full path, or on a drive the
// host lacks ("" when it can).
std::string PathFault(const std::string& path, const char* what, const char* example) {
  if (!IsFullPath(path)) return std::string(what) + " must be a folder on a drive, such as " + example;
  std::uint32_t megabytes = 0;
  if (!GetFreeDiskMegabytes(std::string(1, DriveLetterOf(path)), megabytes))
    return std::string(what) + " " + path + " lies on drive " + DriveText(DriveLetterOf(path)) +
           ", which this host does not have";
  return std::string();
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string ExistingReportFolder() {
  std::string folder;
  ReadMachineRegistryValue(kReportFolderKey, kReportFolderValue, folder);
  return folder;
}

// The snapshot store as the user names it: the configuration holds a host
// path, which the drive map turns back into a Windows path.
std::string ExistingStore(const snapshotsvc::ComponentConfig& config) {
  if (config.snapshotStore.empty()) return std::string();
  std::string windowsPath;
  return platform::ToWindowsPath(config.snapshotStore, windowsPath) == ERROR_SUCCESS ? windowsPath
                                                                                    : config.snapshotStore;
}

bool OnDataDrive(const HostLayout& layout, char drive, std::string* server) {
  for (const DominoServerInfo& s : layout.servers) {
    if (drive != 0 && DataVolumeDrive(s) == drive) {
      *server = s.serverName;
      return true;
    }
  }
  return false;
}

std::vector<snapshotsvc::DiskConfig> DiskEntries(const HostLayout& layout, const snapshotsvc::ComponentConfig& config) {
  std::vector<snapshotsvc::DiskConfig> disks;
  std::vector<char> needed = DataAndLogDrives(layout);
  // An entry that already names a needed drive stays as it is: its names are
  // the storage's.
  for (const snapshotsvc::DiskEntry& entry : config.disks) {
    const bool carriesNeeded = std::any_of(needed.begin(), needed.end(), [&](char drive) {
      return entry.driveLetters.find(drive) != std::string::npos;
    });
    if (!carriesNeeded) continue;
    disks.push_back({entry.volumeName, entry.diskName, entry.devicePath,
                     std::vector<char>(entry.driveLetters.begin(), entry.driveLetters.end())});
  }
  for (char drive : needed) {
    if (config.CarriesDrive(drive)) continue;
    const std::string volume = "vol_" + Lower(std::string(1, drive)), disk = "disk_" + Lower(std::string(1, drive));
    disks.push_back({volume, disk, "\\\\" + layout.computerName + "\\" + volume + "\\" + disk, {drive}});
  }
  return disks;
}

bool MakeFolder(const std::string& path, std::vector<std::string>* done, std::string* error) {
  const bool existed = DirectoryExists(path) == 0;
  if (CreateDirectoryTree(path) != 1) {
    *error = "cannot create the folder " + path;
    return false;
  }
  if (!existed) done->push_back("created " + path);
  return true;
}

SettingCheck Check(const std::string& setting, const std::string& value, const std::string& fault,
                   const std::string& remark = {}) {
  return SettingCheck{setting, value, fault.empty(), fault.empty() ? remark : fault};
}

std::string FolderFault(const std::string& path, const char* whenUnset) {
  if (path.empty()) return whenUnset;
  if (DirectoryExists(path) != 0) return "the folder does not exist";
  return std::string();
}

}  // namespace

HostLayout ReadHostLayout() {
  HostLayout layout;
  DiscoveryResult result;
  layout.componentInstalled = IsSnapshotComponentInstalled();
  layout.discoveryStatus = DiscoverServersAndStorage(result);
  layout.computerName = result.computerName;
  layout.servers = result.servers;
  return layout;
}

std::vector<char> DataAndLogDrives(const HostLayout& layout) {
  std::vector<char> drives;
  auto add = [&](char drive) {
    if (drive != 0 && std::find(drives.begin(), drives.end(), drive) == drives.end()) drives.push_back(drive);
  };
  for (const DominoServerInfo& server : layout.servers) {
    add(DataVolumeDrive(server));
    add(DriveLetterOf(server.logDirectory));
  }
  return drives;
}

SetupValues ProposedValues(const HostLayout& layout) {
  SetupValues values;
  // L: when the host has it and it holds no data, else a drive of logs only.
  char spare = 'L';
  std::string server;
  std::uint32_t megabytes = 0;
  const bool haveL = GetFreeDiskMegabytes("L", megabytes) && !OnDataDrive(layout, 'L', &server);
  for (const DominoServerInfo& s : layout.servers) {
    if (haveL) break;
    const char logDrive = DriveLetterOf(s.logDirectory);
    if (logDrive != 0 && !OnDataDrive(layout, logDrive, &server)) {
      spare = logDrive;
      break;
    }
  }
  ReadNotesSetting(kChangeInfoDirKey, values.ledger, GetArkIniPath());
  if (values.ledger.empty()) values.ledger = DriveText(spare) + "\\ArkLedger";
  values.reports = ExistingReportFolder();
  if (values.reports.empty()) values.reports = DriveText(DriveLetterOf(values.ledger)) + "\\ArkReports";
  const snapshotsvc::ComponentConfig config = snapshotsvc::LoadComponentConfig();
  values.store = ExistingStore(config);
  values.backend = config.backendKnown ? snapshotsvc::BackendName(config.backend) : "dir";
  return values;
}

std::string LedgerRefusal(const HostLayout& layout, const std::string& ledger) {
  if (std::string fault = PathFault(ledger, "the ArkLedger", "L:\\ArkLedger"); !fault.empty()) return fault;
  for (const DominoServerInfo& server : layout.servers) {
    if (std::string text = ArkLedgerOnDataVolumeText(server, ledger); !text.empty()) return text;
  }
  return std::string();
}

std::string ReportsRefusal(const std::string& reports) {
  return PathFault(reports, "the report folder", "L:\\ArkReports");
}

std::string StoreRefusal(const HostLayout& layout, const std::string& store) {
  if (store.empty()) return std::string();
  if (std::string fault = PathFault(store, "the snapshot store", "S:\\Snapshots"); !fault.empty()) return fault;
  std::string server;
  if (OnDataDrive(layout, DriveLetterOf(store), &server)) {
    return "the snapshot store " + store + " lies on drive " + DriveText(DriveLetterOf(store)) +
           ", the data volume of server " + server + "; keep it on a drive of its own";
  }
  return std::string();
}

std::string BackendRefusal(const std::string& backend) {
  return backend == "dir" || backend == "btrfs" ? std::string() : "the backend must be dir or btrfs";
}

std::string FreeSpaceText(const std::string& path) {
  std::uint32_t megabytes = 0;
  const char drive = DriveLetterOf(path);
  if (drive == 0 || !GetFreeDiskMegabytes(std::string(1, drive), megabytes)) return "free space unknown";
  return std::to_string(megabytes) + " MiB free";
}

bool WriteSetup(const HostLayout& layout, const SetupValues& values, std::vector<std::string>* done,
                std::string* error) {
  if (!MakeFolder(values.ledger, done, error) || !MakeFolder(values.reports, done, error)) return false;
  for (int type = 0; type < kReportTypes; ++type) {
    if (!MakeFolder(JoinPath(values.reports, ReportStore::ReportTypeName(type)), done, error)) return false;
  }
  std::string storeHostPath;
  if (!values.store.empty()) {
    if (!MakeFolder(values.store, done, error)) return false;
    if (platform::ToHostPath(values.store, storeHostPath) != ERROR_SUCCESS) {
      *error = "cannot reach the snapshot store " + values.store;
      return false;
    }
  }

  const std::string ini = GetArkIniPath();
  if (!platform::WritePrivateProfileString("NOTES", kChangeInfoDirKey, values.ledger, ini)) {
    *error = "cannot write " + ini;
    return false;
  }
  done->push_back(std::string(kChangeInfoDirKey) + "=" + values.ledger + " in " + ini);
  if (const LONG rc = platform::RegSetString(kReportFolderKey, kReportFolderValue, values.reports); rc != ERROR_SUCCESS) {
    *error = "cannot write HKEY_LOCAL_MACHINE\\" + std::string(kReportFolderKey) + " (error " + std::to_string(rc) + ")";
    return false;
  }
  done->push_back(std::string(kReportFolderValue) + "=" + values.reports + " under HKEY_LOCAL_MACHINE\\" +
                  kReportFolderKey);

  const snapshotsvc::ComponentConfig config = snapshotsvc::LoadComponentConfig();
  const std::vector<snapshotsvc::DiskConfig> disks = DiskEntries(layout, config);
  const snapshotsvc::Backend backend = values.backend == "btrfs" ? snapshotsvc::Backend::Btrfs : snapshotsvc::Backend::Dir;
  std::string failure;
  if (!snapshotsvc::InstallComponent(backend, disks, storeHostPath, kWritesClassKeys, &failure)) {
    *error = "cannot write the snapshot component's configuration: " + failure;
    return false;
  }
  done->push_back("Backend=" + values.backend +
                  (storeHostPath.empty() ? std::string() : ", SnapshotStore=" + storeHostPath) +
                  " under HKEY_LOCAL_MACHINE\\" + snapshotsvc::kConfigKey);
  for (const snapshotsvc::DiskConfig& disk : disks) {
    done->push_back("disk " + disk.volumeName + " (" + disk.diskName + ", " + disk.devicePath + ") carrying drive(s) " +
                    std::string(disk.driveLetters.begin(), disk.driveLetters.end()));
  }

  if (!platform::WritePrivateProfileString("NOTES", kConfigWizardKey, "1", ini)) {
    *error = "cannot write " + ini;
    return false;
  }
  done->push_back(std::string(kConfigWizardKey) + "=1 in " + ini);
  return true;
}

std::vector<SettingCheck> CheckServer(const HostLayout& layout, const DominoServerInfo& server) {
  std::vector<SettingCheck> checks;
  const bool started = server.serverNameResolved;
  checks.push_back(Check("Domino runtime", server.notesIniPath,
                         started ? "" : "the Domino runtime cannot be started with this notes.ini"));
  checks.push_back(Check("transaction logging", server.loggingStyleText,
                         server.archiveLogging != 0 ? ""
                                                    : "not archive logging: backups and restores refuse the server"));
  checks.push_back(Check("data directory", server.dataDirectory, FolderFault(server.dataDirectory, "no data directory")));
  checks.push_back(Check("log directory", server.logDirectory,
                         FolderFault(server.logDirectory, "TRANSLOG_Path is empty in notes.ini")));

  std::string ledger;
  ReadNotesSetting(kChangeInfoDirKey, ledger, GetArkIniPath());
  std::string ledgerFault = FolderFault(ledger, "backups stop before their snapshot");
  if (ledgerFault.empty()) ledgerFault = ArkLedgerOnDataVolumeText(server, ledger);
  while (!ledgerFault.empty() && (ledgerFault.back() == '\n' || ledgerFault.back() == '\r')) ledgerFault.pop_back();
  checks.push_back(Check(kChangeInfoDirKey, ledger, ledgerFault, ledger.empty() ? "" : FreeSpaceText(ledger)));

  const std::string reports = ExistingReportFolder();
  std::string reportsFault = FolderFault(reports, "no run can save its report");
  for (int type = 0; type < kReportTypes && reportsFault.empty(); ++type) {
    const std::string folder = JoinPath(reports, ReportStore::ReportTypeName(type));
    if (DirectoryExists(folder) != 0) reportsFault = "the folder " + folder + " does not exist";
  }
  checks.push_back(Check(kReportFolderValue, reports, reportsFault));

  const snapshotsvc::ComponentConfig config = snapshotsvc::LoadComponentConfig();
  checks.push_back(Check("snapshot component", layout.componentInstalled ? "installed" : "",
                         layout.componentInstalled ? "" : "not installed: no snapshot can be taken or restored"));
  const char drive = DataVolumeDrive(server);
  const std::string driveText = drive == 0 ? std::string("(none)") : DriveText(drive);
  std::string diskFault;
  if (!config.backendKnown) diskFault = "the component's Backend is neither dir nor btrfs";
  else if (server.dataVolume.present != 1) diskFault = "no storage disk carries the data drive " + driveText;
  checks.push_back(Check("data volume", driveText, diskFault,
                         server.dataVolume.present == 1 ? "volume " + server.dataVolume.volumeName : ""));
  const std::string store = ExistingStore(config);
  checks.push_back(Check("SnapshotStore", store.empty() ? "(beside each drive)" : store,
                         StoreRefusal(layout, store)));
  return checks;
}

}  // namespace ark
