// The snapshot cycle of a backup: the ArkLedger directory, the volume's
// limits, renaming the previous recent snapshot to its dated name, the
// backup-mode step that takes the new one, the hint file, the log copy and
// the dated name the new snapshot will get.
#include "snapshot/snapshot_cycle.h"

#include <new>

#include "domino/host_utils.h"
#include "domino/settings.h"
#include "ledger/hint_files.h"
#include "output/output.h"
#include "platform/debug.h"
#include "platform/files.h"
#include "platform/text.h"
#include "snapshot/component_access.h"
#include "snapshot/snapshot_hints.h"
#include "snapshot/snapshot_names.h"

namespace ark {

namespace {

constexpr std::size_t kRefusedSnapshotCount = 255;
constexpr std::size_t kWarnedSnapshotCount = 254;

// Obtains the snapshot interface, saying why when it cannot.
bool OpenForCycle(OutputSink& out, std::unique_ptr<snapshot::ISnapshotService>& service) {
  snapshot::OpenFailure failure = snapshot::OpenFailure::None;
  snapshot::OpenSnapshotService(snapshot::kComponentContext, service, &failure);
  if (failure == snapshot::OpenFailure::Factory) {
    Output(out, "ERROR: Create Snapshot COM component FAILED\r\n");
    return false;
  }
  if (failure == snapshot::OpenFailure::Interface) {
    Output(out, "ERROR: Create Snapshot Interface FAILED\r\n");
    return false;
  }
  return true;
}

// Enumerates the drive's snapshots, saying why and how it went; false after
// the failure's message.
bool Enumerate(OutputSink& out, snapshot::ISnapshotService& service, const std::u16string& drive,
               const std::string& why, snapshot::SnapshotList& list) {
  Output(out, "Enumerating Snapshots (" + why + ")\r\n");
  if (FAILED(service.EnumerateSnapShots(drive, list, 1))) {
    Output(out, "ERROR: Could not enumerate snapshots.(COM FAILED)\r\n");
    return false;
  }
  Output(out, "Enumerating Snapshots COMPLETE\r\n");
  return true;
}

void TraceCandidate(const std::string& recent, const std::string& name) {
  platform::OutputDebugString("recent name:" + recent + "\n" + "cur name   :" + name + "\n\n");
}

// The first enumerated snapshot whose name is the recent name in any letter case.
const snapshot::SnapshotInfo* FindRecent(const snapshot::SnapshotList& list, const std::string& recent) {
  for (const snapshot::SnapshotInfo& info : list.entries) {
    const std::string name = platform::WideToAnsi(info.name);
    TraceCandidate(recent, name);
    if (platform::EqualsNoCase(name, recent)) return &info;
  }
  return nullptr;
}

SnapshotEntry NameOnlyEntry(const std::string& name) {
  SnapshotEntry entry;
  entry.name = name;
  entry.nameText.Set(name);
  return entry;
}

// Renames the recent snapshot and its ArkLedger directory to the dated name;
// gives the snapshot its recent name back when the directory cannot follow.
int RenameRecent(snapshot::ISnapshotService& service, const std::u16string& drive,
                 DominoServerInfo& server, const snapshot::SnapshotInfo& recent,
                 const std::string& recentDirectory, const std::string& hintPath, std::string& datedName) {
  platform::OutputDebugString("Found recent snapshot\n");
  Output(server.output, "Found and renaming recent snapshot\r\n");
  const std::u16string dated = MakeDatedSnapshotName(ServerShortName(server), recent.creationTime);
  datedName = platform::WideToAnsi(dated);
  // Discovery lists the snapshots that the hint file names. The dated name
  // goes into the file before the rename, so that a backup that fails or
  // dies after the rename does not hide the snapshot from the client (a
  // name without a snapshot on the volume is never listed). The rewrite
  // after the backup-mode step gives the file its usual content.
  DominoServerInfo withDated = server;
  withDated.snapshots.push_back(NameOnlyEntry(datedName));
  if (SaveSnapshotHints(hintPath, withDated) != 0) {
    Output(server.output, "Could not read\\create Snapshot hint file:" + hintPath + "\r\n");
    return -1;
  }
  if (FAILED(service.RenameSnapShot(drive, recent.name, dated))) {
    Output(server.output, "ERROR: Could not rename snapshot to ." + datedName + "\r\n");
    return -1;
  }
  Output(server.output, "Recent snapshot renamed to " + datedName + "\r\n");

  std::string datedDirectory;
  GetChangeInfoDir(server, datedName, datedDirectory);
  if (datedDirectory.empty() || platform::MoveFile(recentDirectory, datedDirectory) != ERROR_SUCCESS) {
    Output(server.output, "ERROR: Could not rename ChangeInfoDir from: " + recentDirectory + "\r\n" +
                              "to: " + datedDirectory + "\r\n");
    service.RenameSnapShot(drive, dated, recent.name);
    return -1;
  }
  // The new backup writes its files into the recent directory, also when it
  // has no database whose change information would create it again.
  CreateDirectoryTree(recentDirectory);
  return 0;
}

}  // namespace

int RunSnapshotCycle(const std::u16string& driveLetter, BackupRequest& request,
                     DominoServerInfo& server, const BackupSteps& steps) {
  const std::u16string drive = snapshot::DriveOf(driveLetter);
  std::unique_ptr<snapshot::ISnapshotService> service;
  if (!OpenForCycle(server.output, service)) return -1;

  const std::u16string recentWide = MakeRecentSnapshotName(ServerShortName(server));
  const std::string recent = platform::WideToAnsi(recentWide);
  std::string recentDirectory;
  GetChangeInfoDir(server, recent, recentDirectory);
  CreateDirectoryTree(recentDirectory);
  if (DirectoryExists(recentDirectory) != 0) {
    Output(server.output, "ERROR: ArkLedger directory " + recentDirectory + " could not be created.\r\n");
    return -1;
  }

  snapshot::SnapshotList list;
  if (!Enumerate(server.output, *service, drive, "in order to rename recent to time/date", list)) return -1;
  const std::size_t count = list.entries.size();
  // "There are currently %d snapshots on VOL %s.\n", built without a length limit.
  Output(server.output, "There are currently " + std::to_string(count) + " snapshots on VOL " +
                            server.dataVolume.volumeName + ".\n");

  if (count == kRefusedSnapshotCount) {
    Output(server.output, std::to_string(count) +
                              " Snapshots are on this volume.  Please delete at least one before "
                              "continuing.\r\n");
    return -1;
  }
  if (count == kWarnedSnapshotCount && !request.deleteExcessSnapshots) {
    Output(server.output, "WARNING: " + std::to_string(count) +
                              " snapshots are on this volume. Additional backups will not be possible\r\n"
                              "until existing snapshots are removed.\r\n");
  }

  std::string hintPath;
  if (GetSnapshotHintPath(server, hintPath) != 0) {
    Output(server.output,
           "Could not obtain snapshot hint filename (probably due to invalid ArkLedger directory.\r\n");
    return -1;
  }
  if (LoadSnapshotHints(hintPath, server) != 0) {
    Output(server.output, "Could not read\\create Snapshot hint file:" + hintPath + "\r\n");
    return -1;
  }

  std::string datedName;
  if (const snapshot::SnapshotInfo* found = FindRecent(list, recent)) {
    if (RenameRecent(*service, drive, server, *found, recentDirectory, hintPath, datedName) != 0) return -1;
  }

  Output(server.output, "Placing Domino server in backup mode\r\n");
  const int step = steps.backupMode(request, server, recentDirectory, drive, recentWide);
  Output(server.output, "Returned from backup mode\r\n");
  if (step != 0) {
    Output(server.output, "FAILED Backup/Snapshot for " + server.serverName + " \r\n");
    return -1;
  }

  server.snapshots.push_back(NameOnlyEntry(recent));
  server.snapshots.push_back(NameOnlyEntry(datedName));
  if (GetSnapshotHintPath(server, hintPath) == 0) SaveSnapshotHints(hintPath, server);

  Output(server.output, "Copying logs to ArkLedger dir...\r\n");
  if (steps.archiveLogs) steps.archiveLogs(request, recentDirectory);
  Output(server.output, "Completed log copy.\r\n");

  service.reset();
  RecordRecentSnapshotTime(driveLetter, server);
  return 0;
}

int RecordRecentSnapshotTime(const std::u16string& driveLetter, DominoServerInfo& server) {
  const std::u16string drive = snapshot::DriveOf(driveLetter);
  std::unique_ptr<snapshot::ISnapshotService> service;
  if (!OpenForCycle(server.output, service)) return -1;

  const std::string recent = platform::WideToAnsi(MakeRecentSnapshotName(ServerShortName(server)));
  std::string directory;
  GetChangeInfoDir(server, recent, directory);
  if (DirectoryExists(directory) != 0) {
    Output(server.output, "ERROR: ChangeInfoDir does not exist.\r\n");
    return -1;
  }

  snapshot::SnapshotList list;
  if (!Enumerate(server.output, *service, drive, "in order to find recent", list)) return -1;

  const snapshot::SnapshotInfo* found = FindRecent(list, recent);
  if (found == nullptr) return 0;
  platform::OutputDebugString("Found recent snapshot, getting time/date information\n");
  const std::string dated =
      platform::WideToAnsi(MakeDatedSnapshotName(ServerShortName(server), found->creationTime));
  return WriteSnapshotTimeDate(directory, dated);
}

// Taking one snapshot of a drive through the snapshot component.
int TakeSnapshot(const std::u16string& driveLetter, const std::u16string& name, std::string& errorText) {
  using snapshot::OpenFailure;
  std::unique_ptr<snapshot::ISnapshotService> service;
  OpenFailure failure = OpenFailure::None;
  const HRESULT opened = snapshot::OpenSnapshotService(snapshot::kTakeSnapshotContext, service, &failure);
  if (failure == OpenFailure::Factory) {
    errorText = "Could not create Snapshot COM Object.\r\n" + snapshot::SystemText(opened) + "\r\n";
    return -1;
  }
  if (failure == OpenFailure::Interface) {
    errorText = "Could not obtain Snapshot interface pointer.\r\n" + snapshot::SystemText(opened) + "\r\n";
    return -1;
  }

  snapshot::SnapshotDriveSet drives;
  try {
    drives.drives.resize(1);
  } catch (const std::bad_alloc&) {
    errorText =
        "The SNAPSHOT_DRIVE_INFO structure could not be allocated memory.\r\n"
        "Possible reason - Out of memory.\r\n";
    return -1;
  }
  try {
    drives.drives[0].DRIVELETTER = snapshot::DriveOf(driveLetter);
    drives.drives[0].flag = 1;
  } catch (const std::bad_alloc&) {
    errorText = "The DRIVELETTER could not be allocated memory.\r\nPossible reason - Out of memory.\r\n";
    return -1;
  }
  std::u16string snapshotName;
  try {
    snapshotName = name;
  } catch (const std::bad_alloc&) {
    errorText = "The SNAPSHOTNAME could not be allocated memory.\r\nPossible reason - Out of memory.\r\n";
    return -1;
  }

  const HRESULT hr = service->CreateSnapShot(drives, snapshotName);
  if (hr != S_OK) {
    errorText =
        "Failed to create snapshot (CreateSnapShot method failed).\r\n" + snapshot::SystemText(hr) + "\r\n";
    return -1;
  }
  return 0;
}

}  // namespace ark
