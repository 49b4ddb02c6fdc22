// What a drill does: where it works, and each database taken through the
// restore (copy, change information, recovery) and read whole.
#include "restore/drill_steps.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "backup/database_backup.h"
#include "domino/domino_api.h"
#include "domino/host_utils.h"
#include "domino/settings.h"
#include "ledger/change_info_file.h"
#include "output/output.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/text.h"
#include "restore/change_info_apply.h"
#include "restore/domino_recovery.h"

namespace ark::drill {

namespace {

// Copies of one server made within one second get folders "-2", "-3", ...
constexpr int kMaxFolderTries = 100;
constexpr std::uint64_t kMegabyte = std::uint64_t(1) << 20;
// What one batch reads ahead at most: two batches' worth stay well inside
// the cache of any host that runs a server.
constexpr std::uint64_t kReadAheadBytes = 256 * kMegabyte;

int Refuse(RestoreRequest& run, const std::string& message) {
  Output(run.output, "ERROR: " + message + "\r\n");
  return -1;
}

std::string SystemText(DWORD error) { return platform::FormatMessage(error).substr(0, 1024); }

std::string DirectoryOf(const std::string& path) {
  const std::size_t separator = path.find_last_of('\\');
  return separator == std::string::npos ? std::string() : path.substr(0, separator);
}

std::uint64_t SizeOf(const std::string& path) {
  std::uint64_t size = 0;
  return platform::GetFileSize(path, size) == ERROR_SUCCESS ? size : 0;
}

std::string Stamp() {
  SYSTEMTIME now;
  platform::GetLocalTime(now);
  char text[32];
  std::snprintf(text, sizeof text, "%04u%02u%02u-%02u%02u%02u", unsigned(now.wYear), unsigned(now.wMonth),
                unsigned(now.wDay), unsigned(now.wHour), unsigned(now.wMinute), unsigned(now.wSecond));
  return text;
}

// The change information the backup listed for the database: "" when it is
// there as written (or the snapshot predates the list), else the reason.
std::string CheckListed(const dbrestore::Choice& choice, const ListedChangeInfo& listed, const std::string& file) {
  const auto entry = listed.find(platform::ToUpperAnsi(file.substr(WithBackslash(choice.ledger).size())));
  if (entry != listed.end()) {
    std::uint64_t size = 0;
    const DWORD error = platform::GetFileSize(file, size);
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return "change information missing";
    if (error != ERROR_SUCCESS) return "change information cannot be read: " + SystemText(error);
    if (size != entry->second) {
      return "change information damaged (" + std::to_string(size) + " bytes; the backup wrote " +
             std::to_string(entry->second) + ")";
    }
  }
  return std::string();
}

// Opens the database and reads every note of it: "" when all were read, else why not.
std::string ReadWhole(const std::string& path, std::uint64_t& notes) {
  DominoApi& api = Domino();
  struct Handles {  // closed on every way out
    DBHANDLE db = 0;
    DHANDLE table = 0;
    ~Handles() {
      if (table != 0) Domino().DestroyIdTable(table);
      if (db != 0) Domino().CloseDatabase(db);
    }
  } h;
  if (STATUS s = api.OpenDatabase(path.c_str(), &h.db)) return "it does not open: " + DominoErrorText(s);
  BYTE record[128] = {};
  if (STATUS s = api.ReadDatabaseRecord(h.db, record)) return "its database record cannot be read: " + DominoErrorText(s);
  TIMEDATE until;
  if (STATUS s = api.GetModifiedNoteTable(h.db, NOTE_CLASS_ALL, TIMEDATE{}, &until, &h.table)) {
    return "its notes cannot be listed: " + DominoErrorText(s);
  }
  DWORD id = 0;
  for (int first = 1; api.ScanIdTable(h.table, first, &id) != 0; first = 0) {
    if ((id & RRV_DELETED) != 0) continue;
    NOTEHANDLE note = 0;
    if (STATUS s = api.OpenNote(h.db, id, 0, &note)) return DominoErrorText(s);
    api.CloseNote(note);
    ++notes;
  }
  return std::string();
}

}  // namespace

std::string ReadScratch(const DominoServerInfo& server, const std::string& scratch, std::string& folder) {
  std::string text = scratch;
  for (char& c : text) c = c == '/' ? '\\' : c;
  while (text.size() > 3 && text.back() == '\\') text.pop_back();
  const char drive = DriveLetterOf(text);
  if (drive == 0 || text.size() < 3 || text[2] != '\\') return "it is not a full path with a drive";
  if (std::toupper(static_cast<unsigned char>(drive)) ==
      std::toupper(static_cast<unsigned char>(DataVolumeDrive(server)))) {
    return std::string("it lies on the data volume ") + char(std::toupper(static_cast<unsigned char>(drive))) +
           ": of the server; name a folder on another drive";
  }
  if (text.find("\\..\\") != std::string::npos || text.ends_with("\\..")) return "\"..\" is not allowed in it";
  folder = text;
  return std::string();
}

int MakeCopyFolder(RestoreRequest& run, const std::string& base, std::string& folder) {
  std::string serverLedger, ledgerRoot;
  if (GetChangeInfoRoot(ledgerRoot) != 0 || GetChangeInfoDir(run.server, "", serverLedger) != 0 ||
      serverLedger.size() <= WithBackslash(ledgerRoot).size()) {
    return Refuse(run, "The server's ArkLedger directory cannot be formed (is CHANGE_INFO_DIR set?).");
  }
  std::string serverPart = serverLedger.substr(WithBackslash(ledgerRoot).size());
  while (!serverPart.empty() && serverPart.back() == '\\') serverPart.pop_back();
  const std::string parent = WithBackslash(base) + serverPart + "\\";
  if (CreateDirectoryTree(parent) != 1) return Refuse(run, "The folder " + parent + " could not be created.");
  const std::string stamp = Stamp();
  for (int attempt = 1; attempt <= kMaxFolderTries; ++attempt) {
    const std::string candidate = parent + stamp + (attempt == 1 ? "" : "-" + std::to_string(attempt));
    const DWORD error = platform::CreateDirectory(candidate);
    if (error == ERROR_SUCCESS) {
      folder = candidate;
      return 0;
    }
    if (error != ERROR_ALREADY_EXISTS) {
      return Refuse(run, "The folder " + candidate + " could not be created: " + SystemText(error));
    }
  }
  return Refuse(run, "No new folder could be made in " + parent + ".");
}

int ListDatabases(RestoreRequest& run, const dbrestore::Choice& choice, const Place& place,
                  std::vector<Database>& databases) {
  std::vector<DatabaseEntry> found;
  if (const DWORD error = FindDatabases(place.dataRoot, found); error != ERROR_SUCCESS) {
    return Refuse(run, "The databases of snapshot " + choice.snapshot + " cannot be listed in " + place.dataRoot +
                           ": " + SystemText(error));
  }
  std::vector<std::string> disabled;
  std::string disabledPath;
  (void)ReadDisabledDatabases(choice.ledger, disabled, disabledPath);
  std::vector<DatabaseEntry> live;
  for (const DatabaseEntry& entry : found) {
    Database db;
    db.relative = entry.path.substr(WithBackslash(place.dataRoot).size());
    db.live = JoinPath(run.server.dataDirectory, db.relative);
    db.source = entry.path;
    db.work = place.folder.empty() ? entry.path : JoinPath(place.folder, db.relative);
    databases.push_back(db);
    live.push_back(DatabaseEntry{});
    live.back().path = db.live;
  }
  const std::vector<std::string> recovered = BuildRecoveryList(live, disabled);
  for (Database& db : databases) {
    db.recover = std::any_of(recovered.begin(), recovered.end(),
                             [&](const std::string& path) { return path == db.live; });
  }
  return 0;
}

int CheckFreeSpace(RestoreRequest& run, const dbrestore::Choice& choice, const Place& place,
                   const std::vector<Database>& databases) {
  if (place.folder.empty()) return 0;  // a clone costs no copy
  std::uint64_t needed = 0;
  for (const Database& db : databases) needed += SizeOf(db.source) + SizeOf(MakeChangeInfoPath(choice.ledger, db.live));
  const std::string drive(1, DriveLetterOf(place.folder));
  std::uint32_t freeMegabytes = 0;
  if (!GetFreeDiskMegabytes(drive, freeMegabytes)) {
    return Refuse(run, "The free space of drive " + drive + ": could not be determined.");
  }
  const std::uint64_t neededMegabytes = needed / kMegabyte + 1;
  if (freeMegabytes <= neededMegabytes) {
    return Refuse(run, "Drive " + drive + ": has " + std::to_string(freeMegabytes) + " MB free; the drill's copies need " +
                           std::to_string(neededMegabytes) + " MB.");
  }
  return 0;
}

ListedChangeInfo ListedByPath(const std::vector<ChangeInfoListEntry>& entries) {
  ListedChangeInfo listed;
  for (const ChangeInfoListEntry& entry : entries) listed[platform::ToUpperAnsi(entry.relativePath)] = entry.size;
  return listed;
}

void CopyBatch(const Place& place, const std::vector<Database*>& batch) {
  if (place.folder.empty()) return;
  for (Database* db : batch) {
    if (CreateDirectoryTree(WithBackslash(DirectoryOf(db->work))) != 1) {
      db->failure = "the folder of " + db->work + " cannot be made";
    } else if (DWORD error = platform::CopyFile(db->source, db->work, true)) {
      db->failure = "it cannot be copied to " + db->work + ": " + SystemText(error);
    }
  }
}

void DrillBatch(RestoreRequest& run, const dbrestore::Choice& choice,
                const ListedChangeInfo& listed, std::vector<Database*>& batch) {
  dbrestore::Choice recovery;
  recovery.moment = choice.completed;
  for (Database* db : batch) {
    if (!db->failure.empty()) continue;  // not copied
    const std::string file = MakeChangeInfoPath(choice.ledger, db->live);
    if (std::string why = CheckListed(choice, listed, file); !why.empty()) {
      db->failure = why;
      continue;
    }
    DatabaseEntry entry;
    entry.path = db->live;
    if (ApplyChangeInformationFile(run, entry, file, db->work) != 0) {
      db->failure = "its change information could not be applied";
      continue;
    }
    if (db->recover) {
      dbrestore::Item item;
      item.relative = db->relative;
      item.temporary = db->work;
      recovery.items.push_back(item);
    }
  }
  DatabaseRestoreRequest toSnapshotTime;  // the snapshot's time, a new instance id
  toSnapshotTime.target = kRestoreToSnapshotTime;
  dbrestore::RecoverCopies(run, toSnapshotTime, recovery);
  for (const dbrestore::Item& item : recovery.items) {
    if (item.failure.empty()) continue;
    for (Database* db : batch) {
      if (db->work == item.temporary) db->failure = item.failure;
    }
  }
  for (Database* db : batch) {
    if (db->failure.empty()) db->failure = ReadWhole(db->work, db->notes);
  }
}

void ReadAhead(const dbrestore::Choice& choice, const std::vector<Database*>& batch) noexcept {
  try {
    std::uint64_t left = kReadAheadBytes;
    for (const Database* db : batch) {
      if (left == 0) break;
      left -= platform::ReadAheadFile(MakeChangeInfoPath(choice.ledger, db->live), left);
      if (left > 0) left -= platform::ReadAheadFile(db->source, left);
    }
  } catch (...) {  // a hint that could not be given
  }
}

void DropCopies(const Place& place, const std::vector<Database*>& batch) {
  if (place.folder.empty()) return;
  for (const Database* db : batch) (void)platform::DeleteFile(db->work);
}

}  // namespace ark::drill
