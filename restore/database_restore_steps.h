// The steps of a single-database restore (restore/database_restore.h): what
// is decided before anything is written, and what is then done to each
// database. Each step prints through the run's output; the run's request is
// the one of the volume restore, so that the change-information and
// archived-log steps of that restore serve this one unchanged.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/records.h"
#include "domino/domino_api.h"
#include "restore/database_restore_plan.h"

namespace ark::dbrestore {

// One database of the run.
struct Item {
  std::string relative;   // below the data directory: "mail\jdoe.nsf"
  std::string source;     // in the snapshot
  std::string live;       // the live database's path
  std::string target;     // where the copy goes (the live path in place)
  std::string temporary;  // the copy until it is complete
  std::string keep;       // in place: where the live database is kept ("" when there is none)
  std::uint64_t bytes = 0;  // on the data drive: the copy, its change information, the kept database
  std::string failure;      // why it was not restored ("" while it goes well)
};

// What the run decided before anything is written.
struct Choice {
  std::string snapshot;     // the snapshot's name
  std::string ledger;       // its ArkLedger directory
  FILETIME completed{};     // when its backup completed: the snapshot's time
  FILETIME moment{};        // the moment restored to (up to the minute: now)
  std::string root;         // the snapshot's root folder, for reading
  std::vector<Item> items;
};

// Picks the snapshot (the one named, else the newest whose backup completed
// at or before the moment) and, for the snapshot's time, the moment; checks
// the snapshot's ArkLedger directory as the volume restore does, and that
// the moment is not in the future. 0, or -1 after printing the reason.
// Without checkChangeInfo the change information is left to the caller,
// which checks it database by database (a drill).
int ChooseSnapshot(RestoreRequest& run, const DatabaseRestoreRequest& request, Choice& choice,
                   bool checkChangeInfo = true);
// For a moment after the snapshot: every transaction log from the
// snapshot's log position to the current one is in the active log directory
// or the server's ArkLedger directory, of the snapshot's log series. 0, or
// -1 after printing the reason (naming the first missing log).
int CheckLogsReach(RestoreRequest& run, const Choice& choice);
// The databases of the paths, their places and sizes; refuses a path the
// snapshot does not hold, a target that exists and too little free space on
// the data drive. 0, or -1 after printing the reason.
int PlanItems(RestoreRequest& run, const DatabaseRestoreRequest& request, const std::vector<DatabasePath>& paths,
              const std::string& folder, Choice& choice);

// Files and folders the run made, removed when the object ends unless
// kept: no temporary copy outlives the run.
class Leftovers {
 public:
  Leftovers() = default;
  ~Leftovers();
  Leftovers(const Leftovers&) = delete;
  Leftovers& operator=(const Leftovers&) = delete;
  // Makes the folder and the missing ones above it; those made are removed
  // at the end when they are empty. ERROR_SUCCESS or the platform's code.
  DWORD MakeFolders(const std::string& folder);
  void Add(const std::string& file) { files_.push_back(file); }
  void Keep(const std::string& file);

 private:
  std::vector<std::string> files_, folders_;
};

// The copy of each database out of the snapshot to its temporary name, with
// its change information applied; a database that fails gets its failure.
void CopyOut(RestoreRequest& run, Choice& choice, Leftovers& leftovers);
// Recovers the copies not failed so far, to the moment with the flags of the
// case; a database the runtime names as failing is dropped and the others
// tried again. Archived logs placed in the active log directory for it are
// removed afterwards.
void RecoverCopies(RestoreRequest& run, const DatabaseRestoreRequest& request, Choice& choice);
// Puts each recovered copy at its target: renamed in its folder, or in
// place of the live database (kept first through backup mode, taken offline,
// replaced, brought online; put back as it was when a step fails). Then
// opens each once and reads its database record.
void PlaceCopies(RestoreRequest& run, const DatabaseRestoreRequest& request, Choice& choice, Leftovers& leftovers);

}  // namespace ark::dbrestore
