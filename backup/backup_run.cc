// The backup run of one server: the Domino side around the snapshot, inside
// the snapshot cycle, then retention and the completion flag.
#include "backup/backup_run.h"

#include <vector>

#include "backup/database_backup.h"
#include "backup/log_archive.h"
#include "common/events.h"
#include "domino/domino_api.h"
#include "domino/host_utils.h"
#include "domino/runtime.h"
#include "domino/settings.h"
#include "ledger/change_info_file.h"
#include "ledger/hint_files.h"
#include "ledger/restore_journal.h"
#include "output/operation_lock.h"
#include "output/output.h"
#include "platform/eventlog.h"
#include "platform/files.h"
#include "platform/text.h"
#include "snapshot/retention.h"
#include "snapshot/snapshot_cycle.h"

namespace ark {

namespace {

// The change-information files written for these entries, with their sizes
// (the 8-byte header and the change information it announces).
std::vector<ChangeInfoListEntry> ChangeInfoFiles(const std::vector<const DatabaseEntry*>& entries) {
  std::vector<ChangeInfoListEntry> files;
  for (const DatabaseEntry* entry : entries) {
    const std::uint64_t announced = ChangeInfoSize(entry->changeInfoSizeLow, entry->changeInfoSizeHigh);
    files.push_back(ChangeInfoListEntry{announced + kChangeInfoHeaderSize, ChangeInfoRelativePath(entry->path)});
  }
  return files;
}

}  // namespace

int BackupServer(BackupRequest& request, DominoServerInfo& server) {
  OutputSink& out = request.output;
  ClearReportText();

  // Backups and restores of every process of the host take turns.
  platform::OperationLockHandle lock = AcquireOperationLock(out);
  if (!lock.valid()) return -1;

  if (server.archiveLogging == 0) {
    Output(out, "ERROR: Server: " + ServerShortName(server) + " is not set to archive mode.\r\n" +
                    "Only archival transaction logging is supported.\r\n" + "Backup aborted.\r\n");
    return -1;
  }
  // A snapshot of a volume that a restore left half done is worth nothing.
  if (const std::string interrupted = FindInterruptedRestore(server); !interrupted.empty()) {
    Output(out, "ERROR: " + interrupted + "Run that restore again before the next backup.\r\n" +
                    "Backup aborted; nothing was written.\r\n");
    return -1;
  }
  // A later restore would revert the ArkLedger together with the data.
  if (const std::string onDataVolume = ArkLedgerOnDataVolumeText(server); !onDataVolume.empty()) {
    Output(out, onDataVolume + "Backup aborted.\r\n");
    return -1;
  }

  Output(out, "Initialize notes system with " + server.notesIniPath + "\r\n");
  if (StartDominoRuntime(server.notesIniPath) != NOERROR) {
    Output(out, "ERROR: cannot initialize notes for Server " + server.serverName + "\r\n");
    return -1;
  }
  RuntimeGuard runtime;

  Output(out, "Starting Backup of Server " + server.serverName + "\r\n");
  const std::u16string driveWide(1, server.dataVolume.driveLetter);
  const std::string drive = platform::WideToAnsi(driveWide);
  const std::string& volume = server.dataVolume.volumeName;
  Output(out, LocalTimeText() + ": Snapshot will occur on VOL " + volume + " for Virtual Disk " +
                  drive + "\r\n");

  const BackupSteps steps{RunBackupModeStep, CopyLogsToLedger};
  if (RunSnapshotCycle(driveWide, request, server, steps) != 0) {
    Output(out, "ERROR: Snapshot failed on " + volume + ".\r\n");
    return -1;
  }
  Output(out, LocalTimeText() + ": Snapshot Complete on VOL " + volume + " for Virtual Disk " +
                  drive + "\r\n");

  if (request.deleteExcessSnapshots) {
    Output(out, LocalTimeText() + ": Removing snapshots in excess of " +
                    std::to_string(request.keepCount) + "\r\n");
    std::int32_t deleted = 0;
    if (DeleteExcessSnapshots(server, driveWide, request.keepCount, deleted) != 0) return -1;
    Output(out, LocalTimeText() + ": Deleted " + std::to_string(deleted) + " snapshots\r\n");
  }

  Output(out, LocalTimeText() + ": Backup Completed for Server: " + server.serverName + "\r\n");
  WriteNotesSetting("BACKUPWIZ", "1", GetArkIniPath());
  return 0;
}

int RunBackupModeStep(BackupRequest& request, DominoServerInfo& server, const std::string& ledger,
                      const std::u16string& drive, const std::u16string& name) {
  OutputSink& out = request.output;
  if (server.dataDirectory.empty()) {
    Output(out, "ERROR: Invalid data directory for Server " + server.serverName + "\r\n");
    Output(out, "Server directory is not specified\r\n");
    return -1;
  }
  if (DirectoryExists(server.dataDirectory) != 0) {
    Output(out, "ERROR: Invalid data directory for Server " + server.serverName + "\r\n");
    Output(out, "Server directory '" + server.dataDirectory + "' does not exist.\r\n");
    return -1;
  }

  std::vector<DatabaseEntry> list;
  std::vector<std::string> disabled;
  // Whatever happens from here on, no database stays in backup mode.
  DatabaseBackupGuard guard(list);
  FindDatabases(server.dataDirectory, list);

  Output(out, "Recording Domino changes\r\n");
  if (StartDatabaseBackups(request, list, disabled) != 0) {
    Output(out, "ERROR: Backup aborted.\r\n");
    AbortDatabaseBackups(list);
    return -1;
  }

  const std::u16string driveLetter = drive.substr(0, 1);
  const std::string drive8 = platform::WideToAnsi(driveLetter);
  const std::string name8 = platform::WideToAnsi(name);
  const std::string displayName = server.serverName;
  std::string errorText;
  if (TakeSnapshot(driveLetter, name, errorText) != 0) {
    Output(out, "ERROR: Could not create snapshot\r\nBackup Aborted.\r\n" + errorText);
    AbortDatabaseBackups(list);
    platform::ReportEvent(kEventSourceName, EVENTLOG_ERROR_TYPE, kCategoryBackup, kEventBackupFailed,
                          {displayName, errorText});
    return -1;
  }
  platform::ReportEvent(kEventSourceName, EVENTLOG_INFORMATION_TYPE, kCategoryBackup,
                        kEventSnapshotCreated, {name8, drive8, displayName});
  Output(out, "Completed CreateSnapShot method\r\n");

  Output(out, "Stopping Domino backup mode...\r\n");
  // Every database still in backup gets a change-information file. The
  // files of the ArkLedger are written first and made durable together once
  // the last database has left backup mode: the window the client sees ends
  // with the last database, the flushes follow it.
  std::vector<const DatabaseEntry*> captured;
  for (const DatabaseEntry& entry : list) {
    if (entry.inBackup != 0) captured.push_back(&entry);
  }
  platform::FlushBatch written;
  if (CaptureChangeInfo(request, list, ledger, written) != 0) {
    AbortDatabaseBackups(list);
    Output(out, "ERROR: Could not properly stop backup.\r\n");
    return -1;
  }

  std::string path;
  if (WriteChangeInfoList(ledger, ChangeInfoFiles(captured), path, &written) != 0) {
    Output(out, "WARNING: Could not create change information list file:\r\n" + path + "\r\n" +
                    "A restore of this snapshot cannot check that its change information is complete.\r\n");
  }
  for (const DatabaseEntry& entry : list) {
    if (entry.logged == 0) continue;
    if (WriteLogHint(ledger, entry.logExtent, entry.logId, path, &written) != 0) {
      Output(out, "WARNING: Could not create log hint file:\r\n" + path + "\r\n" +
                      "Restoration of this snapshot may only be POINT IN TIME\r\n");
    }
    break;
  }

  int result = WriteDisabledDatabases(ledger, disabled, path, &written);
  if (result != 0) {
    Output(out, "WARNING: Could not create disabled database file: \r\n" + path + "\r\n" +
                    "Restoration of this snapshot may only be POINT IN TIME\r\n");
    result = -1;
  }
  Output(out, "\r\nDomino backup mode stop completed\r\n");
  // A file that may not be on the disk fails the backup. Without
  // disabled_databases, a restore or verify takes the snapshot for the
  // unfinished backup it is.
  if (FlushBackupFiles(request, written) != 0) {
    platform::DeleteFile(WithBackslash(ledger) + kDisabledDatabasesName);
    return -1;
  }
  return result;
}

}  // namespace ark
