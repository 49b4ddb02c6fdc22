#include "restore/database_restore.h"

#include <exception>

#include "common/events.h"
#include "domino/host_utils.h"
#include "domino/runtime.h"
#include "ledger/restore_journal.h"
#include "output/operation_lock.h"
#include "output/output.h"
#include "platform/eventlog.h"
#include "platform/text.h"
#include "restore/database_restore_steps.h"
#include "restore/interrupted_database_restore.h"
#include "snapshot/snapshot_files.h"

namespace ark {

namespace {

using namespace dbrestore;

constexpr const char* kEventTypeText = "single-database";

std::string TargetText(const DatabaseRestoreRequest& request) {
  return request.target == kRestoreUpToTheMinute ? "up to the minute"
         : request.target == kRestoreToMoment    ? request.moment
                                                 : "the snapshot's time";
}

// The paths, the folder and the moment as the request gives them; "" or
// the reason one cannot be read.
std::string ReadRequest(const DatabaseRestoreRequest& request, std::vector<DatabasePath>& paths, std::string& folder,
                        Choice& choice) {
  if (request.target > kRestoreToMoment || request.placement > kPlaceInPlace) {
    return "Unknown restore target " + std::to_string(request.target) + " or placement " +
           std::to_string(request.placement) + ".";
  }
  if (request.paths.empty()) return "No database or folder named.";
  for (const std::string& text : request.paths) {
    DatabasePath path;
    if (std::string reason = ReadDatabasePath(text, path); !reason.empty()) return "The path \"" + text + "\" is refused: " + reason + ".";
    paths.push_back(path);
  }
  if (request.placement == kPlaceInFolder) {
    if (std::string reason = ReadRestoreFolder(request.folder, folder); !reason.empty()) {
      return "The folder \"" + request.folder + "\" is refused: " + reason + ".";
    }
  }
  if (request.target == kRestoreToMoment && !ParseMoment(request.moment, choice.moment)) {
    return "The moment \"" + request.moment + "\" is not a local time written YYYY-MM-DD HH:MM:SS.";
  }
  return std::string();
}

// The run with the lock held and the runtime started; 0 when every
// database was restored.
int RestoreDatabases(RestoreRequest& run, const DatabaseRestoreRequest& request,
                     const std::vector<DatabasePath>& paths, const std::string& folder, Choice& choice) {
  // An in-place restore of a database that died while it was offline is
  // finished first.
  std::string journalPath, errorText;
  RestoreJournal journal;
  if (RestoreJournalPath(run.server, journalPath) == 0 && ReadRestoreJournal(journalPath, journal) == ERROR_SUCCESS &&
      IsDatabaseJournal(journal) && FinishInterruptedDatabaseRestore(run, journalPath, journal, errorText) != 0) {
    return -1;
  }
  // The live logs and databases of a volume that a restore left half done
  // are not what they seem: that restore has to be run again.
  if (const std::string interrupted = FindInterruptedRestore(run.server); !interrupted.empty()) {
    Output(run.output, "ERROR: " + interrupted + "Run that restore again before restoring single databases.\r\n");
    return -1;
  }
  if (ChooseSnapshot(run, request, choice) != 0) return -1;
  run.snapshot.name = choice.snapshot;
  if (request.target != kRestoreToSnapshotTime && CheckLogsReach(run, choice) != 0) return -1;
  std::string why;
  const std::u16string drive(1, run.server.dataVolume.driveLetter);
  if (SnapshotRootForReading(drive, platform::AnsiToWide(choice.snapshot), choice.root, why) != 0) {
    Output(run.output, "ERROR: " + why + "\r\n");
    return -1;
  }
  if (PlanItems(run, request, paths, folder, choice) != 0) return -1;

  std::string listing = "Restoring from snapshot " + choice.snapshot + " to " + MomentText(choice.moment) + ":\r\n";
  for (const Item& item : choice.items) {
    listing += "  " + item.relative + " -> " + item.target + "\r\n";
  }
  Output(run.output, listing);

  Leftovers leftovers;
  CopyOut(run, choice, leftovers);
  RecoverCopies(run, request, choice);
  PlaceCopies(run, request, choice, leftovers);

  std::string done, failed;
  std::size_t restored = 0;
  for (const Item& item : choice.items) {
    if (item.failure.empty()) {
      ++restored;
      done += "Restored " + item.relative + " to " + item.target + " as of " + MomentText(choice.moment) + "\r\n";
    } else {
      failed += "Not restored: " + item.relative + ": " + item.failure + "\r\n";
    }
  }
  Output(run.output, done + failed);
  return restored == choice.items.size() ? 0 : -1;
}

}  // namespace

std::int32_t PerformDatabaseRestore(DatabaseRestoreRequest& request) {
  ClearReportText();
  RestoreRequest run;
  run.output = request.output;
  run.server = request.server;
  run.server.snapshots.clear();
  Output(run.output, "Start time is: " + LocalTimeText() + "\r\n" + "Restoring databases of server " +
                         run.server.serverName + " to " + TargetText(request) + "\r\n");

  std::vector<DatabasePath> paths;
  std::string folder;
  Choice choice;
  int result = -1;
  std::string reason = ReadRequest(request, paths, folder, choice);
  if (!reason.empty()) {
    Output(run.output, "ERROR: " + reason + "\r\n");
  } else if (platform::OperationLockHandle lock = AcquireOperationLock(run.output); !lock.valid()) {
    reason = "A current BACKUP/RESTORE is in progress.";
  } else if (const STATUS started = StartDominoRuntime(run.server.notesIniPath); started != NOERROR) {
    reason = "Could not initialize notes runtime.";
    Output(run.output, "ERROR: " + reason + "\r\n");
  } else {
    RuntimeGuard runtime;
    run.server.output = run.output;
    try {
      result = RestoreDatabases(run, request, paths, folder, choice);
    } catch (const std::exception& error) {
      reason = std::string("Database restore aborted: ") + error.what();
      platform::ReportEvent(kEventSourceName, EVENTLOG_ERROR_TYPE, kCategoryRestore, kEventRestoreFailed,
                            {kEventTypeText, choice.snapshot, run.server.serverName, reason});
      throw;
    }
  }

  std::string summary;
  if (result == 0) {
    summary = "DATABASE RESTORE COMPLETE: " + std::to_string(choice.items.size()) + " databases restored.";
  } else {
    std::string notRestored;
    for (const Item& item : choice.items) {
      if (!item.failure.empty()) notRestored += (notRestored.empty() ? "" : ", ") + item.relative;
    }
    summary = "DATABASE RESTORE FAILED: " +
              (notRestored.empty() ? std::string("nothing was restored.") : "not restored: " + notRestored + ".");
    if (reason.empty()) {
      // The event names the first reason the run gave.
      const std::string& text = run.output.accumulated;
      const std::size_t at = text.find("ERROR: ");
      reason = at == std::string::npos ? summary : text.substr(at + 7, text.find("\r\n", at) - at - 7);
    }
  }
  Output(run.output, "End time is: " + LocalTimeText() + "\r\n" + summary + "\r\n");
  std::vector<std::string> strings{kEventTypeText, choice.snapshot, run.server.serverName};
  if (result != 0) strings.push_back(reason);
  platform::ReportEvent(kEventSourceName, result == 0 ? EVENTLOG_INFORMATION_TYPE : EVENTLOG_ERROR_TYPE, kCategoryRestore,
                        result == 0 ? kEventRestoreSucceeded : kEventRestoreFailed, strings);
  request.output = run.output;
  return result;
}

}  // namespace ark
