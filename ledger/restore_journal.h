// The restore journal: one small text file per server below the ArkLedger
// root that a restore writes, durably, before it changes anything and
// updates at each step, and removes once the run has ended in a state that
// needs nothing more. A journal found later is a restore that died in the
// middle: the next restore finishes its work first, and a backup or a
// single-database restore of that server refuses until then.
//
// The file, L:\ArkLedger\$restore_journal\<server's ArkLedger folder>, is
// text, one "key=value" line each, ended by "\r\n", after the first line
// "ark restore journal 1":
//   server=        the server's name (srv1/Org)
//   snapshot=      the snapshot being restored
//   kind=          UP TO THE MINUTE, POINT IN TIME or SINGLE DATABASE
//   started=       local time the run started (m/d/yyyy hh:mm:ss:cc)
//   log_directory= the server's active log directory
//   kept_logs=     the folder holding the active logs kept across the revert
//                  (empty when they lie on a drive the revert does not touch)
//   step=          the step reached (RestoreStep, by its text)
//   copied_log=    a log copied into the active log directory for recovery
//                  (one line each; removed again by the run that finishes)
//   database=      SINGLE DATABASE in place: the live database's path
//   kept_database= its copy kept before it went offline (-before-restore)
//   restored_copy= the restored copy under its temporary name (empty once
//                  the kept copy is going back in its place)
// Lines with other keys are ignored.
#pragma once

#include <string>
#include <vector>

#include "common/records.h"
#include "platform/win_types.h"

namespace ark {

// Folder below the ArkLedger root; its "$" cannot begin a server's name, so
// it never meets a server's own ArkLedger directory.
inline constexpr const char* kRestoreJournalFolder = "$restore_journal";
// The kind of a journal that an in-place single-database restore writes.
inline constexpr const char* kSingleDatabaseKind = "SINGLE DATABASE";

// The steps of a restore in their order; a later run decides by the step
// whether the volume may have been touched.
enum class RestoreStep {
  Checked,            // the checks passed; nothing changed yet
  CopyingLogs,        // copying archived logs into the active log directory
  KeepingLogs,        // copying the active logs aside (kept_logs named)
  Reverting,          // the volume is being reverted: from here on the kept
                      // folder is the only sure record of the active logs
  LogsPutBack,        // the kept logs are back in the log directory
  ApplyingChangeInfo,
  Recovering,
  // A single database restored in place (kind SINGLE DATABASE): these
  // steps never meet a volume restore's.
  DatabaseOffline,   // the live database is being taken offline
  DatabaseReplaced,  // the restored copy is in its place, not yet online
};
const char* RestoreStepText(RestoreStep step);

struct RestoreJournal {
  std::string server, snapshot, kind, started, logDirectory, keptLogs;
  RestoreStep step = RestoreStep::Checked;
  std::vector<std::string> copiedLogs;
  std::string database, keptDatabase, restoredCopy;  // SINGLE DATABASE only
};

std::string FormatRestoreJournal(const RestoreJournal& journal);
// false when the text is not a journal (no first line, an unknown step).
bool ParseRestoreJournal(const std::string& text, RestoreJournal& journal);

// The journal's path for the server; -1 when CHANGE_INFO_DIR is not set or
// the server has no name to form it.
int RestoreJournalPath(const DominoServerInfo& server, std::string& path);
// Writes the journal whole and flushes it and its folder (made when
// missing) to the disk: ERROR_SUCCESS or the platform's code.
DWORD WriteRestoreJournal(const std::string& path, const RestoreJournal& journal);
// ERROR_SUCCESS with the journal read; ERROR_FILE_NOT_FOUND when there is
// none; ERROR_INVALID_DATA when the file is not a journal; else the
// platform's code.
DWORD ReadRestoreJournal(const std::string& path, RestoreJournal& journal);
// Removes the journal (and its folder once empty), flushed: ERROR_SUCCESS
// also when there was none.
DWORD RemoveRestoreJournal(const std::string& path);

// One line that names the interrupted restore: server, snapshot, kind, when
// it started and the step it reached (ends in "\r\n").
std::string InterruptedRestoreText(const RestoreJournal& journal);
// The interrupted restore of the server: "" when there is none, else its
// InterruptedRestoreText (or a line naming a journal that cannot be read).
// For every run that must not work on a half-restored volume.
std::string FindInterruptedRestore(const DominoServerInfo& server);

// Every journal below the ArkLedger root: the path of each, its line (as
// FindInterruptedRestore gives it) and its kept_logs folder; empty when
// CHANGE_INFO_DIR is not set.
struct FoundJournal {
  std::string path, text, keptLogs;
};
std::vector<FoundJournal> ListInterruptedRestores();

}  // namespace ark
