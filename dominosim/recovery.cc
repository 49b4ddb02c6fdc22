#include "dominosim/recovery.h"

#include <fcntl.h>

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
#include "dominosim/page_format.h"
#include "dominosim/status.h"
#include "dominosim/txn_log.h"
#include "platform/volume_freeze.h"
#include "platform/kit/file_io.h"

namespace dominosim {

using platform::kit::FlockGuard;
using platform::kit::PathExists;
using platform::kit::UniqueFd;

namespace {

struct Target {
  std::unique_ptr<Database> db;
  DbHeader header;
  bool needsReplay = false;
  bool duplicate = false;  // named earlier in the list
  std::uint32_t applied = 0;
  std::uint32_t maxPage = 0;
  std::uint64_t lastCommit = 0;  // of the last transaction replayed into it
};

// Makes sure extent n is in the log directory, asking for it once, and
// opens it: held open, it is read even when it leaves the directory (once
// archived) while the replay runs.
STATUS OpenExtent(TxnLog& log, std::uint32_t n, const FetchExtentFn& fetch, std::FILE* out, UniqueFd& fd) {
  std::string path = log.ExtentPath(n);
  if (!PathExists(path) && fetch) fetch(n);
  fd = platform::kit::OpenFile(path, O_RDONLY);
  if (!fd.valid()) {
    std::fprintf(out, "Transaction log %s is not available\n", ExtentFileName(n).c_str());
    return ERR_LOGS_MISSING;
  }
  return NOERROR;
}

}  // namespace

RecoveryResult RecoverDatabases(const std::vector<RecoveryTarget>& targets, TxnLog& log,
                                const std::string& stateDir, const FetchExtentFn& fetch,
                                std::FILE* out, const RecoveryOptions& options) {
  std::vector<Target> open(targets.size());
  std::set<std::string> seen;
  for (std::size_t i = 0; i < targets.size(); ++i) {
    const RecoveryTarget& t = targets[i];
    WORD position = WORD(i + 1);
    std::fprintf(out, "Recovering database %s ...\n", t.name.c_str());
    if (t.pathStatus != 0) return {t.pathStatus, position};
    DatabaseOptions dbOptions;
    dbOptions.volumeDrive = t.volumeDrive;
    dbOptions.stateDir = stateDir;
    dbOptions.keepFileOpen = false;  // held below only by the databases that are replayed
    if (STATUS s = Database::Open(t.hostPath, dbOptions, open[i].db)) return {s, position};
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
    const WORD position = WORD(&t - open.data() + 1);
    dbLocks.push_back(std::make_unique<FlockGuard>(t.db->lockFd(), true));
    if (STATUS s = t.db->ReadHeaderUnlocked(t.header)) return {s, position};
    if (options.toMoment && t.header.lastCommit >= options.moment) {
      std::fprintf(out, "Database %s holds transactions committed after the recovery time\n",
                   targets[position - 1].name.c_str());
      return {ERR_LATE_BACKUP, position};
    }
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

  // Every extent from the first needed one to the last must be here and
  // sound before anything is written. A recovery to a moment needs none
  // after the one that reaches past the moment.
  std::uint32_t last = control.currentExtent;
  std::vector<UniqueFd> extents;
  std::uint64_t limit = 0;
  std::uint64_t expected = 0;
  for (std::uint32_t n = first; !byInstance.empty() && n <= last; ++n) {
    UniqueFd fd;
    if (STATUS s = OpenExtent(log, n, fetch, out, fd)) return {s, 0};
    bool pastMoment = false;
    TransactionFn seeMoment;
    if (options.toMoment) {
      seeMoment = [&](const LogTransaction& t) -> STATUS {
        pastMoment = pastMoment || t.commitTime >= options.moment;
        return NOERROR;
      };
    }
    ExtentScan scan;
    STATUS s = ScanExtentAt(fd.get(), n, log.logId(), UINT64_MAX, seeMoment, scan);
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
    extents.push_back(std::move(fd));
    if (pastMoment) last = n;
  }
  // The replay: whole transactions only, in log order, up to the moment.
  bool pastMoment = false;
  for (std::uint32_t n = first; !byInstance.empty() && n <= last; ++n) {
    std::uint32_t applied = 0;
    ExtentScan scan;
    STATUS s = ScanExtentAt(
        extents[n - first].get(), n, log.logId(), limit,
        [&](const LogTransaction& transaction) -> STATUS {
          pastMoment = pastMoment || (options.toMoment && transaction.commitTime >= options.moment);
          if (pastMoment) return NOERROR;
          for (const LogRecord& r : transaction.records) {
            auto it = byInstance.find(r.header.instanceId);
            if (it == byInstance.end()) continue;
            for (Target* t : it->second) {
              if (r.header.lsn <= t->header.lastLsn) continue;
              if (r.header.type == RecordType::Page) {
                if (STATUS w = t->db->WritePageImageUnlocked(r.header.pageNo, r.payload)) return w;
                t->maxPage = std::max(t->maxPage, r.header.pageNo);
              } else {
                std::memcpy(t->header.dbRecord.data(), r.payload, kDbRecordSize);
              }
              t->lastCommit = transaction.commitTime;
              ++t->applied;
              ++applied;
            }
          }
          return NOERROR;
        },
        scan);
    if (s != NOERROR) return {s, 0};
    std::fprintf(out, "Applied %u records from %s\n", applied, ExtentFileName(n).c_str());
  }

  RecoveryResult result;
  for (std::size_t i = 0; i < open.size(); ++i) {
    Target& t = open[i];
    if (t.duplicate) continue;
    if (t.needsReplay) {
      // A recovery to a moment leaves records after it unapplied; they
      // never apply later, as such a recovery always gives a new instance id.
      t.header.lastLsn = std::max(t.header.lastLsn, limit);
      t.header.lastExtent = last;
      t.header.pageCount = std::max(t.header.pageCount, t.maxPage + 1);
      t.header.lastCommit = std::max(t.header.lastCommit, t.lastCommit);
    }
    if (options.newInstanceId) t.header.instanceId = NewRandomId();
    if (options.newReplicaId) {
      const Id16 id = NewRandomId();
      std::memcpy(t.header.dbRecord.data() + kRecordReplicaId, id.data(), kReplicaIdSize);
    }
    if (t.needsReplay || options.newInstanceId || options.newReplicaId) {
      if (STATUS s = t.db->WriteHeaderUnlocked(t.header)) return {s, WORD(i + 1)};
    }
    result.lastCommit = std::max(result.lastCommit, t.header.lastCommit);
    if (t.needsReplay) {
      std::fprintf(out, "Recovered database %s: %u records applied\n", targets[i].name.c_str(), t.applied);
    } else {
      std::fprintf(out, "Database %s is up to date\n", targets[i].name.c_str());
    }
    if (options.newInstanceId || options.newReplicaId) {
      std::fprintf(out, "Database %s has a new instance id%s\n", targets[i].name.c_str(),
                   options.newReplicaId ? " and a new replica id" : "");
    }
  }
  std::fflush(out);
  return result;
}

}  // namespace dominosim
