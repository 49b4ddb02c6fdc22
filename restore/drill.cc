#include "restore/drill.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <thread>

#include "common/events.h"
#include "domino/host_utils.h"
#include "domino/runtime.h"
#include "domino/settings.h"
#include "ledger/restore_journal.h"
#include "output/operation_lock.h"
#include "output/output.h"
#include "platform/eventlog.h"
#include "platform/files.h"
#include "platform/host_seam.h"
#include "platform/text.h"
#include "restore/drill_leftovers.h"
#include "restore/drill_steps.h"
#include "snapshot/snapshot_clone.h"
#include "snapshot/snapshot_files.h"

namespace ark {

namespace {

using namespace drill;
using Clock = std::chrono::steady_clock;

constexpr const char* kEventTypeText = "drill";
constexpr const char* kDrillFolder = "$drill";
// A batch is recovered in one call: its packed list stays well inside the
// runtime's 65,536 bytes.
constexpr std::size_t kBatchListBytes = 48 * 1024;
constexpr std::size_t kBatchDatabases = 200;
constexpr auto kProgressEvery = std::chrono::seconds(5);

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", seconds);
  return text;
}

// What the run found and where it worked; the clone or the folder of copies
// goes when the object ends, unless kept.
struct Run {
  explicit Run(const DominoServerInfo& server) : record(server) {}
  DrillRecord record;  // names the clone or folder while it exists
  dbrestore::Choice choice;
  Place place;
  SnapshotClone clone;
  std::vector<Database> databases;
  bool keep = false;
  ~Run() {
    if (keep) clone.Keep();
    else if (!place.folder.empty()) (void)DeleteDirectoryTree(place.folder);
  }
};

// Where the drill works: the scratch folder named, else a clone, else a
// folder below the ArkLedger root. 0, or -1 after printing the reason.
int ChoosePlace(RestoreRequest& run, const DrillRequest& request, Run& r) {
  const std::u16string drive(1, run.server.dataVolume.driveLetter);
  std::string base, why;
  if (!request.scratch.empty()) {
    if (std::string reason = ReadScratch(run.server, request.scratch, base); !reason.empty()) {
      Output(run.output, "ERROR: The scratch folder \"" + request.scratch + "\" is refused: " + reason + ".\r\n");
      return -1;
    }
  } else {
    switch (r.clone.Create(drive, platform::AnsiToWide(r.choice.snapshot), why)) {
      case SnapshotClone::Made::Clone:
        r.place.dataRoot = JoinPath(r.clone.root(), run.server.dataDirectory.substr(2));
        r.record.Working(true, r.clone.root());
        Output(run.output, "Working in a clone of the snapshot: " + r.clone.root() + "\r\n");
        platform::StepReached("drill-working");
        return 0;
      case SnapshotClone::Made::Failed:
        Output(run.output, "ERROR: " + why + "\r\n");
        return -1;
      case SnapshotClone::Made::CannotClone:
        break;
    }
    std::string ledgerRoot;
    if (GetChangeInfoRoot(ledgerRoot) != 0) {
      Output(run.output, "ERROR: CHANGE_INFO_DIR is not set.\r\n");
      return -1;
    }
    base = WithBackslash(ledgerRoot) + kDrillFolder;
    Output(run.output, "The snapshot is copied (" + why + ").\r\n");
  }
  std::string root;
  if (SnapshotRootForReading(drive, platform::AnsiToWide(r.choice.snapshot), root, why) != 0) {
    Output(run.output, "ERROR: " + why + "\r\n");
    return -1;
  }
  r.place.dataRoot = JoinPath(root, run.server.dataDirectory.substr(2));
  if (MakeCopyFolder(run, base, r.place.folder) != 0) return -1;
  r.record.Working(false, r.place.folder);
  Output(run.output, "Working in copies in " + r.place.folder + "\r\n");
  platform::StepReached("drill-working");
  return 0;
}

// The drill with the lock held and the runtime started: the number of
// databases restored and sound, after one line per database.
std::size_t Drill(RestoreRequest& run, const DrillRequest& request, Run& r, Clock::time_point start) {
  // No drill of this server runs beside this one (the lock): what a record
  // names is a dead drill's.
  if (const std::string removed = RemoveDrillLeftovers(run.server); !removed.empty()) Output(run.output, removed);
  DatabaseRestoreRequest pick;
  pick.snapshotName = request.snapshotName;
  pick.target = kRestoreToSnapshotTime;
  if (dbrestore::ChooseSnapshot(run, pick, r.choice, false) != 0) return 0;
  Output(run.output, "Drilling snapshot " + r.choice.snapshot + " (complete at " + dbrestore::MomentText(r.choice.completed) +
                         ")\r\n");
  if (ChoosePlace(run, request, r) != 0) return 0;
  if (ListDatabases(run, r.choice, r.place, r.databases) != 0) return 0;
  if (CheckFreeSpace(run, r.choice, r.place, r.databases) != 0) return 0;
  std::vector<ChangeInfoListEntry> listed;
  std::string listPath;
  (void)ReadChangeInfoList(r.choice.ledger, listed, listPath);  // none: a snapshot from before the list
  const ListedChangeInfo byPath = ListedByPath(listed);
  if (r.databases.empty()) return 0;

  std::vector<std::vector<Database*>> batches;
  for (std::size_t at = 0; at < r.databases.size();) {
    std::vector<Database*>& batch = batches.emplace_back();
    for (std::size_t bytes = 0; at < r.databases.size() && batch.size() < kBatchDatabases && bytes < kBatchListBytes; ++at) {
      bytes += r.databases[at].work.size() + 1;
      batch.push_back(&r.databases[at]);
    }
  }

  std::size_t sound = 0, done = 0;
  auto progress = Clock::now();
  // The next batch's files are read into the cache and copied (without a
  // clone) while this one is drilled: the disk is kept busy rather than
  // waited on file by file, and the copies cost no time of their own.
  const auto prepare = [&](std::vector<Database*>& batch) {
    ReadAhead(r.choice, batch);
    try {
      CopyBatch(r.place, batch);
    } catch (const std::exception& error) {  // not out of the thread
      for (Database* db : batch) {
        if (db->failure.empty()) db->failure = std::string("it cannot be copied: ") + error.what();
      }
    }
  };
  std::jthread ahead([&] { prepare(batches.front()); });
  for (std::size_t b = 0; b < batches.size(); ++b) {
    ahead.join();
    if (b + 1 < batches.size()) ahead = std::jthread([&, b] { prepare(batches[b + 1]); });
    std::vector<Database*>& batch = batches[b];
    DrillBatch(run, r.choice, byPath, batch);
    // Checked copies are of no more use: removed now, they are never
    // written back to the disk.
    if (!r.keep) DropCopies(r.place, batch);
    std::string lines;
    for (const Database* db : batch) {
      if (db->failure.empty()) {
        ++sound;
        lines += db->relative + ": sound, " + std::to_string(db->notes) + " notes read\r\n";
      } else {
        lines += db->relative + ": " + db->failure + "\r\n";
      }
    }
    Output(run.output, lines);
    done += batch.size();
    if (Clock::now() - progress >= kProgressEvery && done < r.databases.size()) {
      progress = Clock::now();
      Output(run.output, "Drilled " + std::to_string(done) + " of " + std::to_string(r.databases.size()) +
                             " databases in " + Seconds(SecondsSince(start)) + " s\r\n");
    }
  }
  return sound;
}

}  // namespace

std::int32_t PerformDrill(DrillRequest& request) {
  const auto start = Clock::now();
  ClearReportText();
  RestoreRequest run;
  run.output = request.output;
  run.server = request.server;
  run.server.snapshots.clear();
  Output(run.output, "Start time is: " + LocalTimeText() + "\r\nRestore drill of server " + run.server.serverName +
                         "\r\n");
  Run r(run.server);
  r.keep = request.keep;
  std::size_t sound = 0;
  std::string reason;
  if (platform::OperationLockHandle lock = AcquireOperationLock(run.output); !lock.valid()) {
    reason = "A current BACKUP/RESTORE is in progress.";
  } else if (const std::string interrupted = FindInterruptedRestore(run.server); !interrupted.empty()) {
    // A half-restored volume's logs are not what the snapshot's recovery
    // may rely on; the interrupted restore has to finish first.
    reason = "An interrupted restore of this server has to be run again first.";
    Output(run.output, "ERROR: " + interrupted + "Run that restore again before drilling its snapshots.\r\n");
  } else if (const STATUS started = StartDominoRuntime(run.server.notesIniPath); started != NOERROR) {
    reason = "Could not initialize notes runtime.";
    Output(run.output, "ERROR: " + reason + "\r\n");
  } else {
    RuntimeGuard runtime;
    run.server.output = run.output;
    try {
      sound = Drill(run, request, r, start);
    } catch (const std::exception& error) {
      platform::ReportEvent(kEventSourceName, EVENTLOG_WARNING_TYPE, kCategoryRestore, kEventRestoreFailed,
                            {kEventTypeText, r.choice.snapshot, run.server.serverName,
                             std::string("Drill aborted: ") + error.what()});
      throw;
    }
  }
  const std::size_t total = r.databases.size();
  const bool passed = total > 0 && sound == total;
  std::string ending;
  bool removed = true;  // else the record stays, for the next drill
  if (request.keep && (!r.place.folder.empty() || !r.clone.root().empty())) {
    ending = "The drill's databases are kept in " + (r.place.folder.empty() ? r.clone.root() : r.place.folder) + "\r\n";
  } else if (!r.clone.root().empty()) {
    if (std::string why = r.clone.Remove(); !why.empty()) ending = "WARNING: " + why + "\r\n", removed = false;
  } else if (!r.place.folder.empty()) {
    if (DeleteDirectoryTree(r.place.folder) != 0) {
      ending = "WARNING: The folder " + r.place.folder + " could not be removed.\r\n";
      removed = false;
    } else {
      // <base>\<server> and, below the ArkLedger root, $drill go when nothing
      // else is in them; a scratch folder the request named stays.
      std::string parent = r.place.folder;
      const int levels = request.scratch.empty() ? 2 : 1;
      for (int level = 0; level < levels && parent.find_last_of('\\') != std::string::npos; ++level) {
        parent.resize(parent.find_last_of('\\'));
        if (platform::RemoveDirectory(parent) != ERROR_SUCCESS) break;
      }
    }
    r.place.folder.clear();
  }
  if (removed) r.record.Done();
  const std::string summary =
      passed ? "DRILL PASSED: " + std::to_string(sound) + " of " + std::to_string(total) +
                   " databases restored and sound in " + Seconds(SecondsSince(start)) + " s"
             : "DRILL FAILED: " + std::to_string(sound) + " of " + std::to_string(total) +
                   " databases restored and sound; the others are listed above";
  Output(run.output, ending + "End time is: " + LocalTimeText() + "\r\n" + summary + "\r\n");
  std::vector<std::string> strings{kEventTypeText, r.choice.snapshot, run.server.serverName};
  if (!passed) strings.push_back(reason.empty() ? summary : reason);
  platform::ReportEvent(kEventSourceName, passed ? EVENTLOG_INFORMATION_TYPE : EVENTLOG_WARNING_TYPE, kCategoryRestore,
                        passed ? kEventRestoreSucceeded : kEventRestoreFailed, strings);
  request.output = run.output;
  return passed ? 0 : -1;
}

}  // namespace ark
