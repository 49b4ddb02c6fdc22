// The steps of a drill (restore/drill.h): where it works, and what it does
// to each database of the snapshot.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "common/records.h"
#include "ledger/hint_files.h"
#include "restore/database_restore_steps.h"

namespace ark::drill {

// One database of the snapshot.
struct Database {
  std::string relative;  // below the data directory: "mail\jdoe.nsf"
  std::string live;      // the live database's path (names its change information)
  std::string source;    // in the snapshot, or in the clone
  std::string work;      // where it is restored (the clone's file, or its copy)
  bool recover = true;   // logged: recovered to the snapshot's time
  std::uint64_t notes = 0;
  std::string failure;   // why it is not restored and sound ("" while it goes well)
};

// Where the drill works: a clone of the snapshot, or a folder of copies.
struct Place {
  std::string dataRoot;  // the data directory's tree: in the clone, or in the snapshot (copies)
  std::string folder;    // the folder of copies ("" in a clone)
};

// The folder that --scratch names, read: a full path with a drive that is
// not the server's data volume. "" or the reason it is refused.
std::string ReadScratch(const DominoServerInfo& server, const std::string& scratch, std::string& folder);
// Makes base\<server>\<yyyymmdd-hhmmss> (a new folder, "-2" ... within one
// second): 0 with folder set, or -1 after printing the reason.
int MakeCopyFolder(RestoreRequest& run, const std::string& base, std::string& folder);

// The databases below the data directory's tree of the place, each with its
// live path; whether each is recovered (not log.nsf, no template, none the
// backup found without logging). 0, or -1 after printing the reason.
int ListDatabases(RestoreRequest& run, const dbrestore::Choice& choice, const Place& place,
                  std::vector<Database>& databases);
// Copies: enough free space on the folder's drive for the databases and
// their change information. 0, or -1 after printing the reason.
int CheckFreeSpace(RestoreRequest& run, const dbrestore::Choice& choice, const Place& place,
                   const std::vector<Database>& databases);

// The files of change_info_list by their path relative to the ArkLedger
// directory in upper case, with the sizes the backup wrote.
using ListedChangeInfo = std::map<std::string, std::uint64_t>;
ListedChangeInfo ListedByPath(const std::vector<ChangeInfoListEntry>& entries);

// Copies the batch's databases to the folder of copies (nothing in a
// clone); a database that cannot be copied gets its failure. Safe beside
// DrillBatch of another batch.
void CopyBatch(const Place& place, const std::vector<Database*>& batch);
// A batch of databases taken through the drill (those CopyBatch did not
// fail): their change information checked against change_info_list and applied,
// the logged ones recovered to the snapshot's time with new instance ids,
// then each opened and every note read. Failures go to each database.
void DrillBatch(RestoreRequest& run, const dbrestore::Choice& choice,
                const ListedChangeInfo& listed, std::vector<Database*>& batch);

// Starts reading the batch's databases and their change information into
// the system's cache, up to a bound, without waiting for the disk. Safe
// beside DrillBatch of another batch.
void ReadAhead(const dbrestore::Choice& choice, const std::vector<Database*>& batch) noexcept;
// Removes the batch's copies (nothing in a clone): once checked they are of
// no more use, and removed before the system writes them back they cost
// the disk nothing. The folders go with the folder of copies at the end.
void DropCopies(const Place& place, const std::vector<Database*>& batch);

}  // namespace ark::drill
