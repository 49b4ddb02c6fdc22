// What a single-database restore decides before anything is written: the
// snapshot, the moment, whether the logs reach it, and the databases with
// their places.
#include <algorithm>
#include <map>
#include <set>

#include "backup/database_backup.h"
#include "domino/settings.h"
#include "ledger/change_info_check.h"
#include "ledger/change_info_file.h"
#include "ledger/hint_files.h"
#include "ledger/log_files.h"
#include "output/output.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/text.h"
#include "restore/database_restore_steps.h"
#include "snapshot/snapshot_hints.h"

namespace ark::dbrestore {

namespace {

int Refuse(RestoreRequest& run, const std::string& message) {
  Output(run.output, "ERROR: " + message + "\r\n");
  return -1;
}

bool Later(const FILETIME& a, const FILETIME& b) { return platform::CompareFileTime(a, b) > 0; }

// A snapshot of the server whose backup completed: its ArkLedger directory
// holds disabled_databases, written when the change information was saved.
struct Usable {
  std::string name, ledger;
  FILETIME completed{};
};

std::vector<Usable> UsableSnapshots(const DominoServerInfo& server, std::vector<std::string>& names) {
  std::vector<Usable> usable;
  for (const SnapshotEntry& entry : server.snapshots) {
    names.push_back(entry.name);
    Usable u{entry.name, "", {}};
    if (GetChangeInfoDir(server, entry.name, u.ledger) != 0 ||
        platform::GetLastWriteTime(WithBackslash(u.ledger) + kDisabledDatabasesName, u.completed) != ERROR_SUCCESS) {
      continue;
    }
    usable.push_back(u);
  }
  std::sort(usable.begin(), usable.end(), [](const Usable& a, const Usable& b) { return Later(a.completed, b.completed); });
  return usable;
}

std::string Listed(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += "\r\n  " + name;
  return text.empty() ? " none" : text;
}

}  // namespace

int ChooseSnapshot(RestoreRequest& run, const DatabaseRestoreRequest& request, Choice& choice,
                   bool checkChangeInfo) {
  DominoServerInfo server = run.server;
  std::string hintPath;
  if (GetSnapshotHintPath(server, hintPath) != 0 || LoadSnapshotHints(hintPath, server) != 0) {
    return Refuse(run, "The snapshots of server " + server.serverName +
                           " cannot be listed (is CHANGE_INFO_DIR set and the snapshot component installed?).");
  }
  std::vector<std::string> names;
  const std::vector<Usable> usable = UsableSnapshots(server, names);
  FILETIME now;
  platform::GetSystemTimeAsFileTime(now);
  if (request.target == kRestoreToMoment && Later(choice.moment, now)) {
    return Refuse(run, "The moment " + request.moment + " is in the future.");
  }
  if (request.target == kRestoreUpToTheMinute) choice.moment = now;

  const Usable* chosen = nullptr;
  if (!request.snapshotName.empty()) {
    auto named = std::find_if(usable.begin(), usable.end(),
                              [&](const Usable& u) { return platform::EqualsNoCase(u.name, request.snapshotName); });
    if (named == usable.end()) {
      const bool listed = std::any_of(names.begin(), names.end(),
                                      [&](const std::string& n) { return platform::EqualsNoCase(n, request.snapshotName); });
      return Refuse(run, listed ? "The backup of snapshot " + request.snapshotName +
                                      " did not finish (its ArkLedger directory holds no " + std::string(kDisabledDatabasesName) + ")."
                                : "Server " + server.serverName + " has no snapshot " + request.snapshotName +
                                      "; its snapshots:" + Listed(names));
    }
    chosen = &*named;
    if (request.target == kRestoreToMoment && Later(chosen->completed, choice.moment)) {
      return Refuse(run, "The moment " + request.moment + " lies before snapshot " + chosen->name +
                             " was complete (" + MomentText(chosen->completed) + ").");
    }
  } else {
    for (const Usable& u : usable) {
      if (request.target != kRestoreToMoment || !Later(u.completed, choice.moment)) {
        chosen = &u;
        break;
      }
    }
    if (chosen == nullptr) {
      return Refuse(run, usable.empty() ? "Server " + server.serverName + " has no snapshot to restore from."
                                        : "The moment " + request.moment + " lies before the oldest snapshot of server " +
                                              server.serverName + " (complete at " +
                                              MomentText(usable.back().completed) + ").");
    }
  }
  choice.snapshot = chosen->name;
  choice.ledger = chosen->ledger;
  choice.completed = chosen->completed;
  if (request.target == kRestoreToSnapshotTime) choice.moment = chosen->completed;

  run.snapshot.name = choice.snapshot;
  if (!checkChangeInfo) return 0;
  const ChangeInfoListCheck listed = CheckChangeInfoList(run.output, choice.ledger);
  if (!listed.damaged.empty()) {
    return Refuse(run, "The change information of snapshot " + choice.snapshot + " is not as the backup wrote it (" +
                           listed.damaged.front() + ").");
  }
  return 0;
}

int CheckLogsReach(RestoreRequest& run, const Choice& choice) {
  const std::string reach = "The transaction logs do not reach " + MomentText(choice.moment) + ": ";
  DWORD first = 0;
  std::string series, hintPath;
  if (ReadLogHint(choice.ledger, first, series, hintPath) != 0) {
    return Refuse(run, reach + "snapshot " + choice.snapshot + " has no log_hint file.");
  }
  DWORD current = 0;
  std::string currentSeries;
  if (const int status = GetCurrentLogPosition(current, currentSeries); status != 0) {
    return Refuse(run, reach + "the current log cannot be found: " + DominoErrorText(STATUS(status)));
  }
  if (currentSeries != series) {
    return Refuse(run, reach + "the log series changed since snapshot " + choice.snapshot + " (0x" + series +
                           " then, 0x" + currentSeries + " now).");
  }
  std::string serverLedger;
  if (run.server.logDirectory.empty() || GetChangeInfoDir(run.server, "", serverLedger) != 0) {
    return Refuse(run, reach + "the server's transaction log directory or ArkLedger directory is not known.");
  }
  std::vector<NumberedLog> candidates = FindNumberedLogs(WithBackslash(serverLedger));
  for (NumberedLog& log : FindNumberedLogs(WithBackslash(run.server.logDirectory))) candidates.push_back(std::move(log));
  // The log numbers at hand, each file looked at once; a saved copy counts
  // when its snapshot's log_hint is of the same series (read once a folder).
  std::set<DWORD> present;
  std::map<std::string, bool> folderOfSeries;
  for (const NumberedLog& log : candidates) {
    SplitPathResult parts;
    if (SplitPath(log.path, parts) != 0) continue;
    if (platform::StartsWithNoCase(parts.driveAndDirectory, WithBackslash(serverLedger))) {
      auto [known, added] = folderOfSeries.try_emplace(parts.driveAndDirectory, false);
      if (added) {
        DWORD extent = 0;
        std::string savedSeries, savedHint;
        known->second = ReadLogHint(LedgerOfLogsFolder(parts.driveAndDirectory), extent, savedSeries, savedHint) == 0 &&
                        savedSeries == series;
      }
      if (!known->second) continue;
    }
    if (platform::GetFileAttributes(log.path) != INVALID_FILE_ATTRIBUTES) present.insert(log.number);
  }
  for (DWORD n = std::max<DWORD>(first, 1); n < current; ++n) {
    if (present.count(n) == 0) {
      return Refuse(run, reach + "log " + LogBaseName(n) + ".TXN is missing (neither in " + run.server.logDirectory +
                             " nor in " + serverLedger + ").");
    }
  }
  Output(run.output, "The transaction logs from " + LogBaseName(std::max<DWORD>(first, 1)) + ".TXN to " +
                         LogBaseName(current) + ".TXN are there.\r\n");
  return 0;
}

namespace {

std::uint64_t SizeOf(const std::string& path) {
  std::uint64_t size = 0;
  return platform::GetFileSize(path, size) == ERROR_SUCCESS ? size : 0;
}

bool Exists(const std::string& path) { return platform::GetFileAttributes(path) != INVALID_FILE_ATTRIBUTES; }

// The databases of one path of the request, relative to the data directory.
int Expand(RestoreRequest& run, const std::string& snapshotData, const DatabasePath& path,
           std::vector<std::string>& relatives) {
  const std::string where = JoinPath(snapshotData, path.relative);
  if (!path.folder) {
    if (!Exists(where)) return Refuse(run, "Snapshot " + run.snapshot.name + " holds no database " + path.relative);
    relatives.push_back(path.relative);
    return 0;
  }
  std::vector<DatabaseEntry> found;
  if (FindDatabases(where, found) != ERROR_SUCCESS || found.empty()) {
    return Refuse(run, "Snapshot " + run.snapshot.name + " holds no database below " + path.relative);
  }
  for (const DatabaseEntry& entry : found) relatives.push_back(entry.path.substr(WithBackslash(snapshotData).size()));
  return 0;
}

}  // namespace

int PlanItems(RestoreRequest& run, const DatabaseRestoreRequest& request, const std::vector<DatabasePath>& paths,
              const std::string& folder, Choice& choice) {
  const std::string& data = run.server.dataDirectory;
  const std::string snapshotData = JoinPath(choice.root, data.size() > 2 && data[1] == ':' ? data.substr(2) : data);
  std::vector<std::string> relatives;
  for (const DatabasePath& path : paths) {
    if (Expand(run, snapshotData, path, relatives) != 0) return -1;
  }
  std::uint64_t needed = 0;
  for (const std::string& relative : relatives) {
    if (std::any_of(choice.items.begin(), choice.items.end(),
                    [&](const Item& item) { return platform::EqualsNoCase(item.relative, relative); })) {
      continue;  // named twice
    }
    Item item;
    item.relative = relative;
    item.source = JoinPath(snapshotData, relative);
    item.live = JoinPath(data, relative);
    const bool inPlace = request.placement == kPlaceInPlace;
    item.target = inPlace ? item.live : TargetPath(data, folder, relative);
    item.temporary = TemporaryPath(item.target);
    if (inPlace && Exists(item.live)) item.keep = BeforeRestorePath(data, relative);
    // A file under the temporary name is a dead run's unfinished copy,
    // which the copy step removes.
    if (const std::string& taken = inPlace ? item.keep : item.target; !taken.empty() && Exists(taken)) {
      return Refuse(run, taken + " exists already; a restore never overwrites a file.");
    }
    item.bytes = SizeOf(item.source) + SizeOf(MakeChangeInfoPath(choice.ledger, item.live)) +
                 (item.keep.empty() ? 0 : SizeOf(item.live));
    needed += item.bytes;
    choice.items.push_back(item);
  }
  std::uint64_t free = 0;
  const DWORD error = platform::GetDiskFreeSpace(data, free);
  if (error != ERROR_SUCCESS || free <= needed) {
    return Refuse(run, "The data drive has " + std::to_string(free >> 20) + " MB free; the restore needs " +
                           std::to_string((needed >> 20) + 1) + " MB." +
                           (error != ERROR_SUCCESS ? " " + platform::FormatMessage(error) : std::string()));
  }
  return 0;
}

}  // namespace ark::dbrestore
