#include "restore/interrupted_database_restore.h"

#include "backup/database_backup.h"
#include "domino/domino_api.h"
#include "domino/host_utils.h"
#include "output/output.h"
#include "platform/files.h"

namespace ark {

namespace {

std::string SystemText(DWORD error) { return platform::FormatMessage(error).substr(0, 1024); }

bool Exists(const std::string& path) {
  return !path.empty() && platform::GetFileAttributes(path) != INVALID_FILE_ATTRIBUTES;
}

// Brought online, then opened once with its database record read: "" or why not.
std::string OnlineAndOpens(const std::string& live) {
  DominoApi& api = Domino();
  if (STATUS s = api.BringDatabaseOnline(live.c_str(), 0)) return "it cannot be brought online: " + DominoErrorText(s);
  DBHANDLE handle = 0;
  BYTE record[128] = {};
  STATUS s = api.OpenDatabase(live.c_str(), &handle);
  if (s == NOERROR) s = api.ReadDatabaseRecord(handle, record);
  if (handle != 0) api.CloseDatabase(handle);
  return s == NOERROR ? std::string() : "it does not open: " + DominoErrorText(s);
}

}  // namespace

std::string DatabaseJournal::Begin(const std::string& live, const std::string& kept, const std::string& restored) {
  std::string path;
  if (RestoreJournalPath(run_.server, path) != 0) return "CHANGE_INFO_DIR is not set";
  // The server has one journal: one that is there now was left by a database
  // of this run that could not be brought back, and stays for the next run.
  RestoreJournal left;
  if (ReadRestoreJournal(path, left) != ERROR_FILE_NOT_FOUND) {
    return "the restore journal " + path + " still names " + (left.database.empty() ? path : left.database) +
           ", which the next restore of the server brings back";
  }
  journal_.server = run_.server.serverName;
  journal_.snapshot = run_.snapshot.name;
  journal_.kind = kSingleDatabaseKind;
  journal_.started = LocalTimeText();
  journal_.logDirectory = run_.server.logDirectory;
  journal_.step = RestoreStep::DatabaseOffline;
  journal_.database = live;
  journal_.keptDatabase = kept;
  journal_.restoredCopy = restored;
  if (const DWORD error = WriteRestoreJournal(path, journal_); error != ERROR_SUCCESS) {
    return "the restore journal " + path + " cannot be written: " + SystemText(error);
  }
  path_ = path;
  return std::string();
}

void DatabaseJournal::Replaced() {
  if (path_.empty()) return;
  journal_.step = RestoreStep::DatabaseReplaced;
  (void)WriteRestoreJournal(path_, journal_);  // the files tell the next run as much
}

void DatabaseJournal::PuttingBack() {
  if (path_.empty()) return;
  journal_.restoredCopy.clear();
  // Unwritten, the journal still names the restored copy, and a next run
  // that finds the kept copy online in its place would call it restored.
  if (const DWORD error = WriteRestoreJournal(path_, journal_); error != ERROR_SUCCESS) {
    Output(run_.output, "WARNING: The restore journal " + path_ + " could not be written:\r\n" + SystemText(error) +
                            "\r\n");
  }
}

void DatabaseJournal::End() {
  if (path_.empty()) return;
  if (const DWORD error = RemoveRestoreJournal(path_); error != ERROR_SUCCESS) {
    Output(run_.output, "WARNING: The restore journal " + path_ + " could not be removed:\r\n" + SystemText(error) +
                            "\r\nDelete it; the database " + journal_.database + " is online.\r\n");
  }
  path_.clear();
}

bool IsDatabaseJournal(const RestoreJournal& journal) { return !journal.database.empty(); }

int FinishInterruptedDatabaseRestore(RestoreRequest& run, const std::string& path, const RestoreJournal& journal,
                                     std::string& errorText) {
  Output(run.output, "Found an interrupted restore:\r\n" + InterruptedRestoreText(journal));
  const std::string& live = journal.database;
  const std::string& kept = journal.keptDatabase;
  const std::string& restored = journal.restoredCopy;
  auto fail = [&](const std::string& why) {
    errorText = "ERROR: The database " + live + " could not be brought back: " + why + ".\r\nIts copy from before "
                "the restore is " + kept + ". Restore canceled; the journal " + path + " stays.\r\n";
    Output(run.output, errorText);
    return -1;
  };
  std::string did;
  bool keptBack = false;
  if (restored.empty()) {
    // No restored copy named: the run was putting the kept copy back. It
    // goes back whole, over whatever that run left in its place.
    if (!Exists(kept)) return fail("its kept copy is missing");
    if (Exists(live)) {
      if (const DWORD error = platform::DeleteFile(live)) return fail(SystemText(error));
    }
    if (const DWORD error = platform::CopyFile(kept, live, true)) return fail(SystemText(error));
    keptBack = true;
    did = "The database " + live + " was being put back as it was; its kept copy went back.\r\n";
  } else if (!Exists(live)) {
    if (Exists(restored)) {
      if (const DWORD error = platform::MoveFile(restored, live)) return fail(SystemText(error));
      did = "The database " + live + " was offline without its file; the restored copy took its place.\r\n";
    } else {
      if (const DWORD error = platform::CopyFile(kept, live, true)) return fail(SystemText(error));
      keptBack = true;
      did = "The database " + live + " was offline without its file; its kept copy went back.\r\n";
    }
  } else if (Exists(restored)) {
    did = "The database " + live + " had not been replaced.\r\n";
  } else {
    did = "The database " + live + " had been replaced by the restored copy.\r\n";
  }
  if (std::string why = OnlineAndOpens(live); !why.empty()) {
    if (keptBack || !Exists(kept)) return fail(why);
    // A partial file in its place: the database as it was comes back.
    platform::DeleteFile(live);
    if (const DWORD error = platform::CopyFile(kept, live, true)) return fail(why + "; " + SystemText(error));
    if (std::string again = OnlineAndOpens(live); !again.empty()) return fail(again);
    did += "It did not open (" + why + "); its kept copy went back.\r\n";
    keptBack = true;
  }
  if (Exists(restored)) platform::DeleteFile(restored);
  if (keptBack) platform::DeleteFile(kept);
  did += keptBack ? "The database is online as it was before that restore.\r\n"
                  : "The database is online, restored; the one it replaced is kept as " + kept + ".\r\n";
  if (const DWORD error = RemoveRestoreJournal(path); error != ERROR_SUCCESS) {
    Output(run.output, did);
    errorText = "ERROR: The restore journal " + path + " could not be removed:\r\n" + SystemText(error) +
                "\r\nRestore canceled.\r\n";
    Output(run.output, errorText);
    return -1;
  }
  Output(run.output, did + "The interrupted restore is finished; going on with this one.\r\n");
  return 0;
}

}  // namespace ark
