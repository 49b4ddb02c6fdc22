#include "dominosim/recovery.h"

#include <climits>
#include <cstdlib>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <set>

#include "dominosim/database.h"
#include "dominosim/log_reader.h"
#include "dominosim/status.h"
#include "dominosim/txn_log.h"
#include "platform/volume_freeze.h"
#include "platform/kit/file_io.h"

namespace dominosim {

using platform::kit::FlockGuard;
using platform::kit::PathExists;

namespace {

struct Target {
  std::unique_ptr<Database> db;
  DbHeader header;
  bool needsReplay = false;
  bool duplicate = false;  // named earlier in the list
  std::uint32_t applied = 0;
  std::uint32_t maxPage = 0;
};

// Makes sure extent n is in the log directory, asking for it once.
STATUS EnsureExtent(TxnLog& log, std::uint32_t n, const FetchExtentFn& fetch, std::FILE* out) {
  std::string path = log.ExtentPath(n);
  if (!PathExists(path) && fetch) fetch(n);
  if (!PathExists(path)) {
    std::fprintf(out, "Transaction log %s is not available\n", ExtentFileName(n).c_str());
    return ERR_LOGS_MISSING;
  }
  return NOERROR;
}

}  // namespace

RecoveryResult RecoverDatabases(const std::vector<RecoveryTarget>& targets, TxnLog& log,
                                const std::string& stateDir, const FetchExtentFn& fetch,
                                std::FILE* out) {
  std::vector<Target> open(targets.size());
  std::set<std::string> seen;
  for (std::size_t i = 0; i < targets.size(); ++i) {
    const RecoveryTarget& t = targets[i];
    WORD position = WORD(i + 1);
    std::fprintf(out, "Recovering database %s ...\n", t.name.c_str());
    if (t.pathStatus != 0) return {t.pathStatus, position};
    DatabaseOptions options;
    options.volumeDrive = t.volumeDrive;
    options.stateDir = stateDir;
    options.keepFileOpen = false;  // held below only by the databases that are replayed
    if (STATUS s = Database::Open(t.hostPath, options, open[i].db)) return {s, position};
    std::string canonical;
    if (int e = platform::kit::CanonicalPath(t.hostPath, canonical)) return {StatusFromErrno(e), position};
    open[i].duplicate = !seen.insert(canonical).second;
    if (STATUS s = open[i].db->ReadHeader(open[i].header)) return {s, position};
    if (open[i].header.logged == 0) return {ERR_DB_NOT_LOGGED, position};
    if (open[i].header.logId != log.logId()) return {ERR_DB_OTHER_LOG, position};
  }

  // Writers of these databases and the volume's snapshots wait until the
  // replay is done.
  std::set<char> drives;
  for (const Target& t : open) {
    if (t.db->volumeDrive() != 0) drives.insert(t.db->volumeDrive());
  }
  std::vector<platform::VolumeLock> volumeLocks(drives.size());
  std::size_t v = 0;
  for (char drive : drives) {
    if (!volumeLocks[v++].Lock(drive, platform::VolumeLock::Kind::SharedWrite)) return {ERR_IO, 0};
  }
  std::vector<std::unique_ptr<FlockGuard>> dbLocks;
  for (Target& t : open) {
    if (t.duplicate) continue;  // its lock is already held through the first one
    dbLocks.push_back(std::make_unique<FlockGuard>(t.db->lockFd(), true));
    if (STATUS s = t.db->ReadHeaderUnlocked(t.header)) return {s, WORD(&t - open.data() + 1)};
  }

  LogControl control;
  if (STATUS s = log.ReadControl(control)) return {s, 0};
  std::uint64_t logEnd = control.nextLsn - 1;
  std::uint32_t first = control.currentExtent;
  std::map<Id16, std::vector<Target*>> byInstance;
  std::uint64_t oldestNeeded = logEnd;
  for (Target& t : open) {
    if (t.duplicate || t.header.lastLsn >= logEnd) continue;  // nothing logged since
    if (STATUS s = t.db->HoldFile()) return {s, WORD(&t - open.data() + 1)};
    oldestNeeded = std::min(oldestNeeded, t.header.lastLsn + 1);
    t.needsReplay = true;
    byInstance[t.header.instanceId].push_back(&t);
    first = std::min(first, std::max<std::uint32_t>(t.header.lastExtent, 1));
  }

  // Every extent from the first needed one to the current one must be here
  // and sound before anything is written.
  std::uint64_t limit = 0;
  std::uint64_t expected = 0;
  for (std::uint32_t n = first; !byInstance.empty() && n <= control.currentExtent; ++n) {
    if (STATUS s = EnsureExtent(log, n, fetch, out)) return {s, 0};
    ExtentScan scan;
    STATUS s = ScanExtent(log.ExtentPath(n), n, log.logId(), UINT64_MAX, nullptr, scan);
    if (s == ERR_LOG_FOREIGN || s == ERR_LOG_CORRUPT) {
      std::fprintf(out, "Transaction log %s %s\n", ExtentFileName(n).c_str(),
                   s == ERR_LOG_FOREIGN ? "belongs to another log" : "is damaged");
      return {s, 0};
    }
    if (s != NOERROR) return {s, 0};
    bool current = n == control.currentExtent;
    // The first extent must reach back to the oldest record needed.
    bool chained = n == first ? scan.header.firstLsn <= oldestNeeded : scan.header.firstLsn == expected;
    if ((!current && (!scan.sealed || scan.stoppedEarly)) || !chained) {
      std::fprintf(out, "Transaction log %s is damaged\n", ExtentFileName(n).c_str());
      return {ERR_LOG_CORRUPT, 0};
    }
    expected = scan.lastLsn + 1;
    limit = scan.lastLsn;
  }
  for (std::uint32_t n = first; !byInstance.empty() && n <= control.currentExtent; ++n) {
    std::uint32_t applied = 0;
    ExtentScan scan;
    STATUS s = ScanExtent(
        log.ExtentPath(n), n, log.logId(), limit,
        [&](const RecordHeader& r, const std::uint8_t* payload) -> STATUS {
          auto it = byInstance.find(r.instanceId);
          if (it == byInstance.end()) return NOERROR;
          for (Target* t : it->second) {
            if (r.lsn <= t->header.lastLsn) continue;
            if (r.type == RecordType::Page) {
              if (STATUS w = t->db->WritePageImageUnlocked(r.pageNo, payload)) return w;
              t->maxPage = std::max(t->maxPage, r.pageNo);
            } else {
              std::memcpy(t->header.dbRecord.data(), payload, kDbRecordSize);
            }
            ++t->applied;
            ++applied;
          }
          return NOERROR;
        },
        scan);
    if (s != NOERROR) return {s, 0};
    std::fprintf(out, "Applied %u records from %s\n", applied, ExtentFileName(n).c_str());
  }

  for (std::size_t i = 0; i < open.size(); ++i) {
    Target& t = open[i];
    if (t.duplicate) continue;
    if (!t.needsReplay) {
      std::fprintf(out, "Database %s is up to date\n", targets[i].name.c_str());
      continue;
    }
    t.header.lastLsn = std::max(t.header.lastLsn, limit);
    t.header.lastExtent = control.currentExtent;
    t.header.pageCount = std::max(t.header.pageCount, t.maxPage + 1);
    if (STATUS s = t.db->WriteHeaderUnlocked(t.header)) return {s, WORD(i + 1)};
    std::fprintf(out, "Recovered database %s: %u records applied\n", targets[i].name.c_str(), t.applied);
  }
  std::fflush(out);
  return {NOERROR, 0};
}

}  // namespace dominosim
