#include "verify/snapshot_verification.h"

#include <map>
#include <memory>

#include "domino/host_utils.h"
#include "domino/settings.h"
#include "ledger/change_info_check.h"
#include "ledger/hint_files.h"
#include "ledger/log_files.h"
#include "ledger/restore_journal.h"
#include "output/output.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "snapshot/component_access.h"
#include "snapshot/snapshot_names.h"
#include "verify/log_chain_check.h"

namespace ark {

namespace {

constexpr const char* kRecentTail = "recent";
constexpr const char* kNameSeparator = "__";
constexpr std::size_t kLogSeriesDigits = 8;

struct StorageSnapshot {
  std::string name;  // as the storage spells it
  FILETIME created;
};

enum class StorageState { Listed, NoDrive, NotInstalled, Unreachable, ListFailed };

// One snapshot to verify.
struct Target {
  std::string name;
  const StorageSnapshot* onStorage = nullptr;  // null: not found (or not listed)
};

// What every snapshot of the run shares.
struct Run {
  Run(OutputSink& sink, const DominoServerInfo& record, std::string drive)
      : out(sink), server(record), driveText(std::move(drive)) {}
  OutputSink& out;
  const DominoServerInfo& server;
  std::string driveText;  // "E:"
  StorageState storage = StorageState::Listed;
  std::vector<StorageSnapshot> volume;  // every snapshot of the data volume, newest first
  std::vector<const StorageSnapshot*> ofServer;
  std::string prefix;  // the server's name prefix + "__"
  bool ledgerKnown = false;
  std::string serverLedger;                  // ends in "\"
  std::string fault;                         // makes every snapshot of the run unrestorable
  std::unique_ptr<SavedLogIndex> savedLogs;  // listed when the first snapshot needs it

  std::map<std::string, std::string> ledgers;  // by snapshot name

  SavedLogIndex& SavedLogs() {
    if (!savedLogs) savedLogs = std::make_unique<SavedLogIndex>(serverLedger);
    return *savedLogs;
  }
  // The ArkLedger directory of a snapshot as it exists (its letter case may
  // differ from the name's); empty when it cannot be formed.
  const std::string& LedgerOf(const std::string& name) {
    auto it = ledgers.find(name);
    if (it != ledgers.end()) return it->second;
    std::string ledger;  // left empty when GetChangeInfoDir refuses the name
    GetChangeInfoDir(server, name, ledger);
    return ledgers.emplace(name, std::move(ledger)).first->second;
  }
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool BelongsToServer(const Run& run, const std::string& name) {
  if (!SnapshotNameHasPrefix(run.prefix, name)) return false;
  const std::string tail = name.substr(run.prefix.size());
  return platform::EqualsNoCase(tail, kRecentTail) || IsSnapshotTimeStamp(tail);
}

bool IsLogSeries(const std::string& text) {
  if (text.size() != kLogSeriesDigits) return false;
  for (char c : text) {
    if (!IsDigit(c) && !(c >= 'a' && c <= 'f') && !(c >= 'A' && c <= 'F')) return false;
  }
  return true;
}

std::string DriveText(char16_t letter) {
  const bool ascii = (letter >= u'A' && letter <= u'Z') || (letter >= u'a' && letter <= u'z');
  return ascii ? std::string(1, char(letter)) + ":" : std::string();
}

// Lists the data volume's snapshots through the snapshot component.
StorageState ListStorage(Run& run) {
  if (run.driveText.empty()) {
    Output(run.out, "ERROR: The server record names no drive for the data volume.\r\n");
    return StorageState::NoDrive;
  }
  std::unique_ptr<snapshot::ISnapshotService> service;
  const HRESULT opened = snapshot::OpenSnapshotService(snapshot::kComponentContext, service, nullptr);
  if (opened == REGDB_E_CLASSNOTREG) {
    Output(run.out, "ERROR: The snapshot component is not installed: the snapshots of drive " +
                        run.driveText + " cannot be listed.\r\n");
    return StorageState::NotInstalled;
  }
  if (FAILED(opened)) {
    Output(run.out,
           "ERROR: The snapshot component could not be reached.\r\n" + snapshot::SystemText(opened) + "\r\n");
    return StorageState::Unreachable;
  }
  snapshot::SnapshotList list;
  const HRESULT listed =
      service->EnumerateSnapShots(std::u16string(1, run.server.dataVolume.driveLetter), list, 1);
  if (FAILED(listed)) {
    Output(run.out, "ERROR: Could not enumerate the snapshots of drive " + run.driveText + ".\r\n" +
                        snapshot::SystemText(listed) + "\r\n");
    return StorageState::ListFailed;
  }
  if (listed == S_OK) {
    for (const snapshot::SnapshotInfo& info : list.entries)
      run.volume.push_back(StorageSnapshot{platform::WideToAnsi(info.name), info.creationTime});
  }
  return StorageState::Listed;
}

std::string StorageFault(StorageState state) {
  switch (state) {
    case StorageState::Listed:
      return std::string();
    case StorageState::NoDrive:
      return "no data volume drive";
    case StorageState::NotInstalled:
      return "snapshot component not installed";
    case StorageState::Unreachable:
      return "snapshot component not reachable";
    case StorageState::ListFailed:
      return "snapshots could not be listed";
  }
  return std::string();
}

// Reads log_hint; false (after saying so) when it is missing or unreadable.
bool CheckLogHint(Run& run, const std::string& ledger, SnapshotVerdict& verdict, DWORD& firstLog,
                  std::string& series) {
  std::string path;
  if (ReadLogHint(ledger, firstLog, series, path) != 0) {
    Output(run.out, "WARNING: No log_hint file: " + WithBackslash(ledger) + kLogHintName + "\r\n" +
                        "Restoration of this snapshot may only be POINT IN TIME\r\n");
    verdict.PointInTimeOnly("no log_hint");
    return false;
  }
  if (!IsLogSeries(series)) {
    Output(run.out, "WARNING: The log_hint file " + path +
                        " cannot be read: it must hold a log number and an 8-digit log series.\r\n"
                        "Restoration of this snapshot may only be POINT IN TIME\r\n");
    verdict.PointInTimeOnly("log_hint unreadable");
    return false;
  }
  if (firstLog == 0) firstLog = 1;
  Output(run.out, "Log position of the backup: " + ArchivedLogName(firstLog) +
                      ", log series 0x" + series + "\r\n");
  return true;
}

void CheckDisabledDatabases(Run& run, const std::string& ledger, SnapshotVerdict& verdict) {
  std::vector<std::string> disabled;
  std::string path;
  if (ReadDisabledDatabases(ledger, disabled, path) != 0) {
    // Every finished backup writes it: without it the backup did not finish,
    // and a restore refuses the snapshot.
    Output(run.out, "ERROR: No disabled_databases file: " + WithBackslash(ledger) +
                        kDisabledDatabasesName + "\r\n" +
                        "The backup of this snapshot did not finish; a restore refuses it.\r\n");
    verdict.NotRestorable("no disabled_databases");
    return;
  }
  if (disabled.empty()) return;
  std::string message =
      "Databases without transaction logging (recoverable to the snapshot's time only):\r\n";
  for (const std::string& database : disabled) message += "  " + database + "\r\n";
  Output(run.out, message);
}

// The ArkLedger directories of the server's snapshots taken after target.
std::vector<std::string> NewerLedgers(Run& run, const StorageSnapshot& target) {
  std::vector<std::string> ledgers;
  for (const StorageSnapshot* other : run.ofServer) {
    if (other == &target || platform::CompareFileTime(other->created, target.created) < 0) continue;
    const std::string& ledger = run.LedgerOf(other->name);
    if (!ledger.empty() && DirectoryExists(ledger) == 0) ledgers.push_back(ledger);
  }
  return ledgers;
}

SnapshotVerdict VerifyOne(Run& run, const Target& target) {
  SnapshotVerdict verdict(target.name);
  Output(run.out, "\r\nChecking snapshot " + target.name + "\r\n");
  if (!run.fault.empty()) verdict.NotRestorable(run.fault);
  if (run.storage == StorageState::Listed && target.onStorage == nullptr) {
    Output(run.out, "ERROR: The snapshot does not exist on drive " + run.driveText + "\r\n");
    verdict.NotRestorable("snapshot missing on the storage");
  }
  if (!run.ledgerKnown) return verdict;

  const std::string ledger = run.LedgerOf(target.name);
  if (ledger.empty()) {
    Output(run.out, "ERROR: The name " + target.name + " cannot name an ArkLedger directory.\r\n");
    verdict.NotRestorable("ArkLedger directory missing");
    return verdict;
  }
  if (DirectoryExists(ledger) != 0) {
    Output(run.out,
           "ERROR: The ArkLedger directory " + ledger +
               " does not exist:\r\nthe snapshot has no change information and no recovery hints.\r\n");
    verdict.NotRestorable("ArkLedger directory missing");
    return verdict;
  }
  Output(run.out, "ArkLedger directory: " + ledger + "\r\n");

  if (!CheckChangeInformation(run.out, ledger).damaged.empty())
    verdict.NotRestorable("damaged change information file");
  const ChangeInfoListCheck listed = CheckChangeInfoList(run.out, ledger);
  if (!listed.listed) {
    Output(run.out, "No change_info_list file (a backup made before the list was kept): a missing change "
                    "information file cannot be told from a database without changes.\r\n");
  } else if (!listed.damaged.empty()) {
    verdict.NotRestorable("change information file missing or damaged");
  }

  DWORD firstLog = 0;
  std::string series;
  const bool hinted = CheckLogHint(run, ledger, verdict, firstLog, series);
  CheckDisabledDatabases(run, ledger, verdict);

  // The saved logs can be judged only against the storage's order of snapshots.
  if (hinted && target.onStorage != nullptr && run.server.archiveLogging != 0) {
    LogChainInput input;
    input.serverLedger = run.serverLedger;
    input.snapshotLedger = ledger;
    input.newerLedgers = NewerLedgers(run, *target.onStorage);
    input.firstLog = firstLog;
    input.logSeries = series;
    CheckLogChain(run.out, input, run.SavedLogs(), verdict);
  }
  return verdict;
}

std::vector<Target> ChooseTargets(Run& run, const std::string& snapshotName) {
  std::vector<Target> targets;
  if (!snapshotName.empty()) {
    Target target{snapshotName, nullptr};
    for (const StorageSnapshot& s : run.volume) {
      if (platform::EqualsNoCase(s.name, snapshotName)) {
        target = Target{s.name, &s};
        break;
      }
    }
    if (run.storage == StorageState::Listed && !BelongsToServer(run, target.name)) {
      Output(run.out, "WARNING: " + target.name + " is not named as a snapshot of server " +
                          ServerShortName(run.server) + ".\r\n");
    }
    targets.push_back(target);
  } else if (run.storage == StorageState::Listed) {
    for (const StorageSnapshot* s : run.ofServer) targets.push_back(Target{s->name, s});
  } else {
    // Without the storage's list, the snapshots that the client's record names.
    for (const SnapshotEntry& entry : run.server.snapshots) {
      if (!entry.name.empty()) targets.push_back(Target{entry.name, nullptr});
    }
  }
  return targets;
}

// The free space of the ArkLedger's drive, which every later backup fills:
// what monitoring watches (arkctl health reads this line).
void ReportLedgerSpace(OutputSink& out) {
  std::string root;
  std::uint32_t megabytes = 0;
  const char drive = GetChangeInfoRoot(root) == 0 ? DriveLetterOf(root) : 0;
  if (drive == 0 || !GetFreeDiskMegabytes(std::string(1, drive), megabytes)) return;
  Output(out, std::string("ArkLedger drive ") + drive + ": has " + std::to_string(megabytes) + " MiB free.\r\n");
}

}  // namespace

bool IsSnapshotTimeStamp(const std::string& text) {
  static constexpr char kSeparators[] = {'-', '-', '_', '.', '.'};
  std::size_t at = 0;
  for (std::size_t field = 0; field < 6; ++field) {
    const std::size_t start = at;
    while (at < text.size() && IsDigit(text[at])) ++at;
    if (at == start) return false;
    if (field == 5) break;
    if (at >= text.size() || text[at] != kSeparators[field]) return false;
    ++at;
  }
  return at == text.size();
}

std::vector<SnapshotVerdict> VerifySnapshots(OutputSink& out, const DominoServerInfo& server,
                                             const std::string& snapshotName) {
  Run run(out, server, DriveText(server.dataVolume.driveLetter));
  Output(out, "Verifying " +
                  (snapshotName.empty() ? std::string("the snapshots") : "snapshot " + snapshotName) +
                  " of server " + ServerShortName(server) + " on drive " +
                  (run.driveText.empty() ? std::string("(none)") : run.driveText) + "\r\n");

  if (server.archiveLogging == 0) {
    Output(out, "ERROR: Server: " + ServerShortName(server) + " is not set to archive mode.\r\n" +
                    "Only archival transaction logging is supported: a restore refuses this server.\r\n");
    run.fault = "server not set to archive logging";
  }
  run.ledgerKnown = GetChangeInfoDir(server, std::string(), run.serverLedger) == 0;
  if (!run.ledgerKnown) {
    Output(out, "ERROR: The ArkLedger directory of server " + ServerShortName(server) +
                    " cannot be formed:\r\nCHANGE_INFO_DIR is not set in ark.ini, or the server's name "
                    "cannot name a directory.\r\n");
    if (run.fault.empty()) run.fault = "ArkLedger directory unknown";
  } else {
    ReportLedgerSpace(out);
  }
  // The snapshots are as good as before; the volume is not.
  if (const std::string interrupted = FindInterruptedRestore(server); !interrupted.empty()) {
    Output(out, "WARNING: " + interrupted +
                    "The data volume may be half restored: run that restore again before the next backup.\r\n");
  }
  run.storage = ListStorage(run);
  if (run.fault.empty()) run.fault = StorageFault(run.storage);

  MakeSnapshotNamePrefix(ServerShortName(server), run.prefix);
  run.prefix += kNameSeparator;
  for (const StorageSnapshot& s : run.volume) {
    if (BelongsToServer(run, s.name)) run.ofServer.push_back(&s);
  }

  const std::vector<Target> targets = ChooseTargets(run, snapshotName);
  if (targets.empty()) {
    Output(out, "ERROR: No snapshot of server " + ServerShortName(server) + " was found" +
                    (run.driveText.empty() ? std::string() : " on drive " + run.driveText) + ".\r\n");
    return {};
  }
  std::vector<SnapshotVerdict> verdicts;
  for (const Target& target : targets) verdicts.push_back(VerifyOne(run, target));
  Output(out, "\r\n");
  for (const SnapshotVerdict& verdict : verdicts) Output(out, verdict.Line());
  return verdicts;
}

}  // namespace ark
