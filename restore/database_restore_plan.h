// The parts of a single-database restore that are plain rules: the moment
// a user names, the database paths and the restore folder below the data
// directory, where each copy goes, and the recovery flags for the case.
#pragma once

#include <cstdint>
#include <string>

#include "common/records.h"
#include "domino/domino_api.h"
#include "platform/win_types.h"

namespace ark::dbrestore {

// "YYYY-MM-DD HH:MM:SS", a local time of the host (the local-time rules of
// the platform, TZ on POSIX), as a UTC FILETIME. false for any other text:
// another layout, a field out of range, a day the month does not have.
bool ParseMoment(const std::string& text, FILETIME& utc);
// The UTC time as "YYYY-MM-DD HH:MM:SS" local time (what ParseMoment reads).
std::string MomentText(const FILETIME& utc);
// The UTC time as "M/D/YYYY HH:MM:SS" local time, the text the runtime's
// TextToTimeDate reads. Whole seconds: a time inside a second is given as
// the end of that second, so that nothing committed within it is left out.
std::string RuntimeTimeText(const FILETIME& utc);

// A PATH of the request, relative to the data directory.
struct DatabasePath {
  std::string relative;  // "mail\jdoe.nsf"; a folder ends in "\" ("mail\")
  bool folder = false;   // every database below it
};
// Reads one PATH: "/" is taken as "\", a trailing separator makes it a
// folder. Refused (the returned reason, empty when accepted): empty, an
// absolute path or one with a drive, an empty, "." or ".." part, a file
// that is not a database (.nsf, .ntf, .box).
std::string ReadDatabasePath(const std::string& text, DatabasePath& out);
// The folder below the data directory that receives the copies ("" is
// "restore"), with "/" taken as "\" and no separator at either end; refused
// as ReadDatabasePath refuses a path, with the returned reason.
std::string ReadRestoreFolder(const std::string& text, std::string& out);

// dataDirectory\folder\relative: where a copy goes.
std::string TargetPath(const std::string& dataDirectory, const std::string& folder,
                       const std::string& relative);
// dataDirectory\restore\relative with "-before-restore" before the
// extension: where an in-place restore keeps the database it replaces.
std::string BeforeRestorePath(const std::string& dataDirectory, const std::string& relative);
// The name beside target that a copy has until it is complete (the
// extension kept, so the runtime sees a database).
std::string TemporaryPath(const std::string& target);

// The recovery flags: a new instance id always, the moment for the
// snapshot's time and a given moment, a new replica id on request.
DWORD RecoveryFlags(std::uint32_t target, bool newReplicaId);

}  // namespace ark::dbrestore
