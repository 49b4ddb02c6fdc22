// A single database restored in place is offline between the moment the
// live database is taken offline and the moment the restored copy is online;
// a run that dies there leaves it offline. So the run writes a restore
// journal of kind SINGLE DATABASE (ledger/restore_journal.h) naming the
// database, its kept copy and the restored copy before it takes the live
// database offline, and removes it once the database is online again; the
// next restore of the server finishes what the dead run left.
#pragma once

#include <string>

#include "common/records.h"
#include "ledger/restore_journal.h"

namespace ark {

// The journal of one database while it is replaced in place.
class DatabaseJournal {
 public:
  explicit DatabaseJournal(RestoreRequest& run) : run_(run) {}
  DatabaseJournal(const DatabaseJournal&) = delete;
  DatabaseJournal& operator=(const DatabaseJournal&) = delete;
  // Written, flushed, before the live database goes offline: "" or why it
  // cannot be (the database must then not go offline), also when a journal
  // is there already (one a database that could not be brought back left).
  std::string Begin(const std::string& live, const std::string& kept, const std::string& restored);
  // The restored copy is in the live database's place.
  void Replaced();
  // The kept copy goes back in its place: the journal names no restored copy
  // any more, so that the next run never takes what it finds there for one.
  void PuttingBack();
  // The database is online again: the journal goes. A run that could not
  // bring it back does not call it, and the journal stays for the next run.
  void End();

 private:
  RestoreRequest& run_;
  std::string path_;
  RestoreJournal journal_;
};

// Whether the journal is one of a single database restored in place.
bool IsDatabaseJournal(const RestoreJournal& journal);

// Finishes the in-place restore of one database that the journal at path
// names: when the live path holds no database, the restored copy takes its
// place if it is there, else the kept copy goes back (and always when the
// journal names no restored copy: the run was putting the kept one back); the database is
// brought online and must open (else the kept copy goes back and is tried);
// a restored copy that never took its place is removed, and the kept copy
// when it went back. Says what it found and did; the journal goes. 0, or -1
// with errorText set (and printed) when the database cannot be made to open
// again: the journal stays then. Needs the runtime started.
int FinishInterruptedDatabaseRestore(RestoreRequest& run, const std::string& path, const RestoreJournal& journal,
                                     std::string& errorText);

}  // namespace ark
