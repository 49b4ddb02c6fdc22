#include "restore/restore_run.h"

#include <exception>
#include <optional>
#include <vector>

#include "backup/database_backup.h"
#include "common/events.h"
#include "domino/discovery.h"
#include "domino/domino_api.h"
#include "domino/host_utils.h"
#include "domino/runtime.h"
#include "domino/settings.h"
#include "ledger/change_info_check.h"
#include "ledger/hint_files.h"
#include "output/operation_lock.h"
#include "output/output.h"
#include "platform/eventlog.h"
#include "platform/files.h"
#include "platform/host_seam.h"
#include "platform/text.h"
#include "restore/change_info_apply.h"
#include "restore/domino_recovery.h"
#include "restore/interrupted_restore.h"
#include "restore/kept_logs.h"
#include "restore/recovery_logs.h"
#include "snapshot/snapshot_restore.h"

namespace ark {

namespace {

constexpr std::size_t kWideNameCapacity = 1024;

void WriteRestoreEvent(const RestoreRequest& request, const std::string& typeText,
                       const std::string* failureText) {
  std::vector<std::string> strings{typeText, request.snapshot.name, request.server.serverName};
  if (failureText != nullptr) strings.push_back(*failureText);
  platform::ReportEvent(kEventSourceName,
                        failureText != nullptr ? EVENTLOG_ERROR_TYPE : EVENTLOG_INFORMATION_TYPE,
                        kCategoryRestore,
                        failureText != nullptr ? kEventRestoreFailed : kEventRestoreSucceeded,
                        strings);
}

// Prints the message, makes it the error text and gives -1.
int PrintAndFail(RestoreRequest& request, std::string& errorText, const std::string& message) {
  Output(request.output, message);
  errorText = message;
  return -1;
}

constexpr const char* kCanceled = "Restore canceled; the volume was not changed.\r\n";

// The snapshot's ArkLedger directory must hold what a finished backup left
// there: disabled_databases (read into disabled) and, when the backup listed
// them, every change-information file at its size. 0, or -1 after printing
// the reason.
int CheckSnapshotLedger(RestoreRequest& request, const std::string& ledger,
                        std::vector<std::string>& disabled, std::string& errorText) {
  if (DirectoryExists(ledger) != 0) {
    return PrintAndFail(request, errorText,
                        "ERROR: The snapshot's ArkLedger directory does not exist:\r\n" + ledger +
                            "\r\nWithout it the change information recorded during the backup "
                            "cannot be applied.\r\n" +
                            kCanceled);
  }
  std::string path;
  if (ReadDisabledDatabases(ledger, disabled, path) != 0) {
    return PrintAndFail(request, errorText,
                        "ERROR: The snapshot's ArkLedger directory holds no disabled_databases file:\r\n" +
                            WithBackslash(ledger) + kDisabledDatabasesName + "\r\n" +
                            "The backup of this snapshot did not finish; its change information may "
                            "be incomplete.\r\n" +
                            kCanceled);
  }
  const ChangeInfoListCheck listed = CheckChangeInfoList(request.output, ledger);
  if (!listed.damaged.empty()) {
    return PrintAndFail(request, errorText,
                        "ERROR: The snapshot's change information is not as the backup wrote it (" +
                            listed.damaged.front() + ").\r\n" + kCanceled);
  }
  return 0;
}

std::string WithoutTrailingBackslash(std::string directory) {
  while (!directory.empty() && directory.back() == '\\') directory.pop_back();
  return directory;
}

// A revert takes the whole volume back, with the data directories of every
// other server on it; they are named from the registry only, since
// discovering them would start their runtimes in the middle of a restore.
void WarnOfOtherDataDirectories(RestoreRequest& request) {
  const char drive = DataVolumeDrive(request.server);
  if (drive == 0) return;
  const std::string own = WithoutTrailingBackslash(request.server.dataDirectory);
  std::string listed;
  for (const std::string& directory : RegisteredDataDirectories()) {
    if (DriveLetterOf(directory) != drive ||
        platform::EqualsNoCase(WithoutTrailingBackslash(directory), own)) {
      continue;
    }
    listed += "  " + directory + "\r\n";
  }
  if (listed.empty()) return;
  Output(request.output, "WARNING: The revert of drive " + std::string(1, drive) +
                             ": also takes the data directories of other Domino servers back to the "
                             "snapshot:\r\n" +
                             listed + "Their databases are not recovered by this restore.\r\n");
}

std::string NarrowDriveLetter(char16_t letter) {
  return platform::WideToAnsi(std::u16string(1, letter));
}

}  // namespace

std::int32_t PerformRestore(RestoreRequest& request) {
  ClearReportText();
  const std::string typeText = request.pointInTime == 1 ? "POINT IN TIME" : "UP TO THE MINUTE";

  platform::OperationLockHandle lock = AcquireOperationLock(request.output);
  if (!lock.valid()) {
    const std::string failure = "A current BACKUP/RESTORE is in progress.";
    WriteRestoreEvent(request, typeText, &failure);
    Output(request.output, "ERROR: Restore aborted. A current BACKUP/RESTORE is in progress\r\n");
    return -1;
  }

  const STATUS started = StartDominoRuntime(request.server.notesIniPath);
  if (started != NOERROR) {
    const std::string failure = "Could not initialize notes runtime. Restore snapshot failed.";
    WriteRestoreEvent(request, typeText, &failure);
    Output(request.output,
           "ERROR: Could not initialize notes runtime. Restore snapshot failed.\r\n");
    return started;
  }
  RuntimeGuard runtime;

  request.server.output = request.output;

  std::string errorText;
  int result;
  try {
    result = RestoreSnapshotAndRecover(request, errorText);
  } catch (const std::exception& error) {
    const std::string failure = std::string("Restore aborted: ") + error.what();
    WriteRestoreEvent(request, typeText, &failure);
    throw;
  }
  if (result != 0) {
    Output(request.output, errorText);
    WriteRestoreEvent(request, typeText, &errorText);
  } else {
    WriteRestoreEvent(request, typeText, nullptr);
  }
  return result;
}

namespace {

// The restore sequence; the logs kept across the revert live in keptLogs,
// each step reached is recorded in journal.
int RunRestoreSequence(RestoreRequest& request, std::string& errorText, KeptLogs& keptLogs,
                       RestoreJournalKeeper& journal) {
  DominoServerInfo& server = request.server;
  const bool pointInTime = request.pointInTime == 1;

  if (IsDominoRunning()) {
    errorText =
        "ERROR: Domino is running. It needs to be shutdown before the restore process occurs.\r\n"
        "Restore canceled.\r\n";
    return -1;
  }
  if (server.archiveLogging == 0) {
    errorText =
        "ERROR: Transaction logging is disabled or not set to archive mode.\r\n"
        "Please re-enabled archival transaction logging and perform a full backup.\r\n";
    return -1;
  }

  Output(request.output, "Start time is: " + LocalTimeText() + "\r\n" +
                             "Restoring snapshot: " + request.snapshot.name + "\r\n");

  // What a restore of this server that died in the middle left is put
  // right first: until then the log directory may hold what its revert
  // brought back instead of the live logs.
  if (FinishInterruptedRestore(request, journal, errorText) != 0) return -1;

  // Everything that could keep the restore from completing is checked while
  // the volume is still untouched.
  if (const std::string onDataVolume = ArkLedgerOnDataVolumeText(server); !onDataVolume.empty()) {
    return PrintAndFail(request, errorText, onDataVolume + kCanceled);
  }
  std::string ledgerRoot, ledger;
  if (GetChangeInfoRoot(ledgerRoot) != 0 || GetChangeInfoDir(server, request.snapshot.name, ledger) != 0) {
    return PrintAndFail(request, errorText,
                        "ERROR: Could not obtain location of ArkLedger directory\r\n");
  }
  std::vector<std::string> disabled;
  if (CheckSnapshotLedger(request, ledger, disabled, errorText) != 0) return -1;
  WarnOfOtherDataDirectories(request);

  // The logs copied in for recovery are removed on every way out, a failed
  // check or copy and an exception included.
  std::vector<std::string> copiedLogs;
  CopiedLogsGuard copiedLogsGuard(request, copiedLogs);
  if (journal.Begin(pointInTime ? "POINT IN TIME" : "UP TO THE MINUTE", errorText) != 0) return -1;
  if (!pointInTime &&
      EnsureRecoveryLogs(request, copiedLogs, errorText,
                         [&journal](const std::string& path) { journal.LogCopied(path); }) != 0) {
    return -1;
  }
  if (keptLogs.KeepAside(ledgerRoot, errorText, [&journal](const std::string& folder) {
        std::string reason = journal.KeptLogsFolder(folder);
        if (reason.empty()) platform::StepReached("keeping-logs");
        return reason;
      }) != 0) {
    return -1;
  }
  platform::StepReached("logs-kept");
  if (journal.Step(RestoreStep::Reverting, errorText) != 0) return -1;

  Output(request.output, "\r\nStarting restore of snapshot\r\n");
  Output(request.output, "Restoring snapshot. Please wait...\r\n");

  std::u16string wideName = platform::AnsiToWide(request.snapshot.name);
  if (wideName.size() > kWideNameCapacity - 1) wideName.resize(kWideNameCapacity - 1);
  const std::u16string drive(1, server.dataVolume.driveLetter);
  keptLogs.RevertStarting();
  if (RestoreVolumeSnapshot(request, drive, wideName, errorText) != 0) {
    // The component may have changed part of the volume before it failed.
    std::string putBackError;
    if (keptLogs.PutBack(putBackError) != 0) errorText += putBackError;
    return -1;
  }

  Output(request.output, "Snapshot restored.\r\n");
  platform::StepReached("reverted");
  if (keptLogs.PutBack(errorText) != 0) return -1;
  journal.Step(RestoreStep::LogsPutBack, errorText);
  platform::StepReached("logs-put-back");

  std::vector<DatabaseEntry> restored;
  const DWORD listingError = FindDatabases(server.dataDirectory, restored);
  if (listingError != 0) {
    return PrintAndFail(
        request, errorText,
        "ERROR: Cannot obtain listing of restored NSF/NTF. This is needed\r\n"
        " in order to apply backup change information to the recovered databases.\r\n" +
            server.dataDirectory + " invalid.\r\n" +
            platform::FormatMessage(listingError).substr(0, 1024) + "\r\n");
  }

  Output(request.output,
         "Applying change information (from Domino backup) to restored databases.\r\n"
         "Change information directory is:\r\n" +
             ledger + "\r\n");

  const std::string driveText = NarrowDriveLetter(server.dataVolume.driveLetter) + ":";
  journal.Step(RestoreStep::ApplyingChangeInfo, errorText);
  if (ApplyChangeInformation(request, restored, ledger, driveText) != 0) {
    return PrintAndFail(request, errorText,
                        "ERROR: Apply change information failed (although snapshot was restored).\r\n");
  }
  Output(request.output, "Change information applied.\r\n");
  journal.Step(RestoreStep::Recovering, errorText);

  if (pointInTime) {
    const std::string displayText = request.snapshot.displayText.Get();
    Output(request.output, "\r\nPerforming POINT IN TIME Domino recovery.\r\n"
                           "Transactions will be applied up to " +
                               displayText + "\r\n");
    if (RecoverDatabases(request, restored, displayText, disabled) != 0) {
      return PrintAndFail(request, errorText, "ERROR: POINT IN TIME Recovery failed.\r\n");
    }
  } else {
    Output(request.output, "\r\nPerforming UP TO THE MINUTE Domino recovery.\r\n"
                           "All transactions will be applied (please wait...)\r\n");
    const int recovered = RecoverDatabases(request, restored, std::nullopt, disabled);
    copiedLogsGuard.RemoveNow();
    if (recovered != 0) {
      return PrintAndFail(
          request, errorText,
          "ERROR: UP TO THE MINUTE Recovery failed. Restored snapshot is POINT IN TIME\r\n");
    }
  }

  // The journal goes before the folder it names.
  journal.End();
  keptLogs.Discard();
  Output(request.output, "Recovery COMPLETE \r\n");
  Output(request.output, "End time is: " + LocalTimeText() + "\r\n" +
                             "\r\n\r\nSNAPSHOT RESTORE AND RECOVERY COMPLETE.\r\n"
                             "RESTART DOMINO IMMEDIATELY\r\n");
  return 0;
}

}  // namespace

int RestoreSnapshotAndRecover(RestoreRequest& request, std::string& errorText) {
  KeptLogs keptLogs(request);
  RestoreJournalKeeper journal(request);
  int result;
  try {
    result = RunRestoreSequence(request, errorText, keptLogs, journal);
  } catch (...) {
    if (keptLogs.LogsInPlace()) journal.End();
    throw;
  }
  if (result != 0) errorText += keptLogs.FailureNote();
  // The run ended: well, or with its failure said and the active logs in
  // their place. Only logs that are not back in place need a later run.
  if (keptLogs.LogsInPlace()) journal.End();
  return result;
}

}  // namespace ark
