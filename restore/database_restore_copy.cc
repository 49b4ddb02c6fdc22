// What a single-database restore does to each database: the copy out of
// the snapshot, its change information, recovery, and its place.

#include <algorithm>
#include <vector>

#include "backup/database_backup.h"
#include "domino/settings.h"
#include "ledger/change_info_file.h"
#include "ledger/log_files.h"
#include "output/output.h"
#include "output/redirect_stdout.h"
#include "platform/files.h"
#include "platform/host_seam.h"
#include "restore/archived_log_callback.h"
#include "restore/change_info_apply.h"
#include "restore/database_restore_steps.h"
#include "restore/domino_recovery.h"
#include "restore/interrupted_database_restore.h"

namespace ark::dbrestore {

namespace {

// How long taking a database offline waits for the server to let it go.
constexpr DWORD kOfflineWaitMilliseconds = 30000;

std::string DirectoryOf(const std::string& path) {
  const std::size_t separator = path.find_last_of('\\');
  return separator == std::string::npos ? std::string() : path.substr(0, separator);
}

std::string SystemText(DWORD error) { return platform::FormatMessage(error).substr(0, 1024); }

// The archived logs that the runtime's call-back copies into the active log
// directory during recovery: logs older than every log there before, which
// the server had already let go. They are removed when the object ends.
class PlacedLogs {
 public:
  explicit PlacedLogs(const std::string& logDirectory) : directory_(WithBackslash(logDirectory)) {
    if (logDirectory.empty()) return;
    for (const NumberedLog& log : FindNumberedLogs(directory_)) oldest_ = std::min(oldest_, log.number);
  }
  ~PlacedLogs() {
    if (oldest_ == ~DWORD(0)) return;
    for (const NumberedLog& log : FindNumberedLogs(directory_)) {
      if (log.number < oldest_) platform::DeleteFile(log.path);
    }
  }
  PlacedLogs(const PlacedLogs&) = delete;
  PlacedLogs& operator=(const PlacedLogs&) = delete;

 private:
  std::string directory_;
  DWORD oldest_ = ~DWORD(0);  // none there: nothing is removed
};

// The live database as it is now, kept at copy through backup mode: the
// file copied, then the pages written meanwhile applied to the copy, as a
// backup does. "" or the reason it could not be kept.
std::string KeepLive(const std::string& live, const std::string& copy) {
  DominoApi& api = Domino();
  struct Backup {  // ends the backup and closes the database on every way out
    DBHANDLE handle = 0;
    DWORD context = 0;
    bool started = false, done = false;
    ~Backup() {
      if (started) Domino().BackupEnd(handle, context, done ? 0 : 1);
      if (handle != 0) Domino().CloseDatabase(handle);
    }
  } backup;
  DWORD unused1 = 0, unused2 = 0;
  if (STATUS s = api.OpenDatabase(live.c_str(), &backup.handle)) return "it cannot be opened: " + DominoErrorText(s);
  if (STATUS s = api.BackupStart(backup.handle, 0, &backup.context, &unused1, &unused2)) {
    return "it cannot be put in backup mode: " + DominoErrorText(s);
  }
  backup.started = true;
  if (DWORD error = platform::CopyFile(live, copy, true)) return "it cannot be copied to " + copy + ": " + SystemText(error);
  DWORD low = 0, high = 0, apply = 0;
  STATUS s = api.BackupStop(backup.handle, backup.context);
  if (s == NOERROR) s = api.GetChangeInfoSize(backup.handle, backup.context, 0, &low, &high);
  if (s == NOERROR) s = api.ApplyChangeInfoStart(&apply, copy.c_str(), 0, low, high);
  std::vector<BYTE> buffer(kChangeInfoBlockSize);
  for (DWORD length = 1; s == NOERROR && length != 0;) {
    s = api.GetChangeInfo(backup.handle, backup.context, 0, buffer.data(), DWORD(buffer.size()), &length);
    if (s == NOERROR && length != 0) s = api.ApplyChangeInfo(apply, 0, buffer.data(), std::min<DWORD>(length, DWORD(buffer.size())));
  }
  if (s == NOERROR) s = api.ApplyChangeInfoEnd(apply, 0);
  if (s != NOERROR) return "its change information cannot be applied to the copy: " + DominoErrorText(s);
  backup.done = true;
  return std::string();
}

// After the live database went offline: it comes back from its kept copy
// and online. "" or why it could not.
std::string PutBack(const Item& item) {
  platform::DeleteFile(item.live);  // the restored copy, when it got there
  if (DWORD error = platform::CopyFile(item.keep, item.live, true)) return SystemText(error);
  if (STATUS s = Domino().BringDatabaseOnline(item.live.c_str(), 0)) return DominoErrorText(s);
  return std::string();
}

// In place: keeps the live database, takes it offline, puts the copy in its
// place and brings it online; a failure after it went offline puts the
// kept one back.
void ReplaceLive(RestoreRequest& run, Item& item, Leftovers& leftovers) {
  DominoApi& api = Domino();
  DatabaseJournal journal(run);
  if (!item.keep.empty()) {
    const std::string keeping = TemporaryPath(item.keep);
    if (DWORD error = leftovers.MakeFolders(DirectoryOf(keeping))) {
      item.failure = "the folder of " + item.keep + " cannot be made: " + SystemText(error);
      return;
    }
    leftovers.Add(keeping);
    if (std::string why = KeepLive(item.live, keeping); !why.empty()) {
      item.failure = "the live database could not be kept (" + why + "); it was not changed";
      return;
    }
    if (DWORD error = platform::MoveFile(keeping, item.keep)) {
      item.failure = "the live database could not be kept as " + item.keep + ": " + SystemText(error);
      return;
    }
    leftovers.Add(item.keep);
    Output(run.output, "Kept the live database " + item.live + " as " + item.keep + "\r\n");
    // From here until it is online again a run that dies leaves it offline:
    // the journal tells the next run what to bring back.
    if (std::string why = journal.Begin(item.live, item.keep, item.temporary); !why.empty()) {
      item.failure = why + "; the live database was not changed";
      return;
    }
    if (STATUS s = api.TakeDatabaseOffline(item.live.c_str(), kOfflineWaitMilliseconds, 0)) {
      journal.End();
      item.failure = "the live database could not be taken offline (" + DominoErrorText(s) + "); it was not changed";
      return;
    }
    platform::StepReached("database-offline");
  }
  std::string failed;
  if (DWORD error = platform::MoveFile(item.temporary, item.live)) {
    failed = "the copy could not be put in its place: " + SystemText(error);
  } else {
    journal.Replaced();
    platform::StepReached("database-replaced");
    if (STATUS s = api.BringDatabaseOnline(item.live.c_str(), 0)) {
      failed = "the database could not be brought online: " + DominoErrorText(s);
    }
  }
  if (failed.empty() || item.keep.empty()) {
    item.failure = failed;
    if (!item.keep.empty()) leftovers.Keep(item.keep);
    if (failed.empty()) journal.End();
    return;
  }
  journal.PuttingBack();
  if (std::string why = PutBack(item); !why.empty()) {
    leftovers.Keep(item.keep);
    item.failure = failed + "; the live database could not be put back (" + why + "): it is kept as " + item.keep +
                   ", and the next restore of the server tries again";
    return;
  }
  journal.End();
  item.failure = failed + "; the live database is back as it was and online";
}

}  // namespace

Leftovers::~Leftovers() {
  for (const std::string& file : files_) platform::DeleteFile(file);
  for (auto it = folders_.rbegin(); it != folders_.rend(); ++it) platform::RemoveDirectory(*it);  // when empty
}

DWORD Leftovers::MakeFolders(const std::string& folder) {
  if (folder.empty() || platform::GetFileAttributes(folder) != INVALID_FILE_ATTRIBUTES) return ERROR_SUCCESS;
  if (DWORD error = MakeFolders(DirectoryOf(folder))) return error;
  const DWORD error = platform::CreateDirectory(folder);
  if (error == ERROR_SUCCESS) folders_.push_back(folder);
  return error == ERROR_ALREADY_EXISTS ? ERROR_SUCCESS : error;
}

void Leftovers::Keep(const std::string& file) { std::erase(files_, file); }

void CopyOut(RestoreRequest& run, Choice& choice, Leftovers& leftovers) {
  for (Item& item : choice.items) {
    Output(run.output, "Copying " + item.source + "\r\n");
    if (DWORD error = leftovers.MakeFolders(DirectoryOf(item.temporary))) {
      item.failure = "its folder cannot be made: " + SystemText(error);
      continue;
    }
    // A copy under the temporary name is what a run that died left: this
    // run holds the operation lock, and an interrupted in-place restore that
    // names it was finished before the copies began.
    if (platform::GetFileAttributes(item.temporary) != INVALID_FILE_ATTRIBUTES) {
      if (DWORD error = platform::DeleteFile(item.temporary)) {
        item.failure = "the unfinished copy " + item.temporary + " that an interrupted restore left cannot be removed: " +
                       SystemText(error);
        continue;
      }
      Output(run.output, "Removed the unfinished copy " + item.temporary + " that an interrupted restore left.\r\n");
    }
    if (DWORD error = platform::CopyFile(item.source, item.temporary, true)) {
      item.failure = "it cannot be copied to " + item.temporary + ": " + SystemText(error);
      continue;
    }
    leftovers.Add(item.temporary);
    DatabaseEntry entry;
    entry.path = item.live;
    if (ApplyChangeInformationFile(run, entry, MakeChangeInfoPath(choice.ledger, item.live), item.temporary) != 0) {
      item.failure = "its change information could not be applied";
    }
  }
}

void RecoverCopies(RestoreRequest& run, const DatabaseRestoreRequest& request, Choice& choice) {
  std::vector<Item*> list;
  for (Item& item : choice.items) {
    if (item.failure.empty()) list.push_back(&item);
  }
  if (list.empty()) return;
  const DWORD flags = RecoveryFlags(request.target, request.newReplicaId);
  const bool toMoment = (flags & DBRECOVER_POINT_IN_TIME) != 0;
  const std::string timeText = RuntimeTimeText(choice.moment);
  CurrentRestoreScope current(run);
  PlacedLogs placed(run.server.logDirectory);
  while (!list.empty()) {
    TIMEDATE moment;
    const char* text = timeText.c_str();
    if (STATUS s = toMoment ? Domino().TextToTimeDate(nullptr, nullptr, &text, WORD(timeText.size()), &moment) : 0) {
      for (Item* item : list) item->failure = "the runtime cannot read the moment " + timeText + ": " + DominoErrorText(s);
      return;
    }
    std::vector<std::string> paths;
    for (const Item* item : list) paths.push_back(item->temporary);
    WORD failing = 0;
    STATUS status;
    {
      CRedirectStdout capture(&run.output);
      status = Domino().RecoverDatabaseList(PackRecoveryList(paths).data(), ArchivedLogCallback, flags, &failing,
                                            toMoment ? &moment : nullptr);
    }
    if (status == NOERROR) return;
    const std::string why = "recovery failed: " + DominoErrorText(status, 1024);
    if (failing == 0 || failing > list.size()) {
      for (Item* item : list) item->failure = why;
      return;
    }
    list[failing - 1]->failure = why;
    Output(run.output, "WARNING: " + list[failing - 1]->relative + ": " + why + "; recovering the others again.\r\n");
    list.erase(list.begin() + (failing - 1));
  }
}

void PlaceCopies(RestoreRequest& run, const DatabaseRestoreRequest& request, Choice& choice, Leftovers& leftovers) {
  for (Item& item : choice.items) {
    if (!item.failure.empty()) continue;
    if (request.placement == kPlaceInPlace) {
      ReplaceLive(run, item, leftovers);
    } else if (DWORD error = platform::MoveFile(item.temporary, item.target)) {
      item.failure = "the copy could not be renamed to " + item.target + ": " + SystemText(error);
    }
    if (!item.failure.empty()) continue;
    // Opened once, to show that it opens.
    DBHANDLE handle = 0;
    BYTE record[128] = {};
    STATUS s = Domino().OpenDatabase(item.target.c_str(), &handle);
    if (s == NOERROR) s = Domino().ReadDatabaseRecord(handle, record);
    if (handle != 0) Domino().CloseDatabase(handle);
    if (s != NOERROR) item.failure = "it was restored to " + item.target + " but does not open: " + DominoErrorText(s);
  }
}

}  // namespace ark::dbrestore
