#include "dominosim/workload.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "dominosim/database.h"
#include "dominosim/digest.h"
#include "dominosim/page_fill.h"
#include "dominosim/status.h"
#include "dominosim/txn_log.h"
#include "dominosim/volume_hold.h"

namespace dominosim {
namespace {

double NowSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Sleeps in short slices, so that a stop request ends the sleep early.
void SleepSeconds(double seconds, const std::atomic<bool>& stop) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point until =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  constexpr Clock::duration kSlice = std::chrono::milliseconds(20);
  while (!stop.load()) {
    const Clock::time_point now = Clock::now();
    if (now >= until) return;
    std::this_thread::sleep_for(std::min(until - now, kSlice));
  }
}

struct Target {
  std::string path;
  std::unique_ptr<Database> db;  // nullptr while the database is offline
  std::uint32_t pageCount = 1;
  std::uint32_t growLimit = 1;
  double retryAt = 0;  // when to look again whether it is online
};

// Opens the database (again); not while it is offline.
STATUS OpenTarget(Target& t, const DatabaseOptions& options) {
  t.db.reset();
  STATUS s = Database::Open(t.path, options, t.db);
  DbHeader header;
  if (s == NOERROR && t.db->Offline()) s = ERR_DB_OFFLINE;
  if (s == NOERROR) s = t.db->ReadHeader(header);
  if (s != NOERROR) {
    t.db.reset();
    return s;
  }
  t.pageCount = header.pageCount;
  t.growLimit = header.pageCount * 2 + 16;
  return NOERROR;
}

// An offline database is looked at again after this long.
constexpr double kOfflineRetrySeconds = 0.05;

}  // namespace

STATUS RunWorkload(const ServerConfig& config, const WorkloadOptions& options,
                   const std::atomic<bool>& stop, WorkloadStats& stats, std::FILE* messages) {
  std::unique_ptr<TxnLog> log;
  if (config.logging && config.logDirHost.empty()) {
    std::fprintf(messages, "nserver: the transaction log directory %s cannot be reached\n",
                 config.logDirWin.c_str());
    return ERR_LOG_NOT_FOUND;
  }
  if (config.logging) {
    LogOptions logOptions;
    logOptions.dir = config.logDirHost;
    logOptions.style = config.style == 1 ? LogStyle::Archive : LogStyle::Circular;
    logOptions.extentBytes = config.extentBytes;
    logOptions.circularExtents = config.circularExtents;
    if (STATUS s = TxnLog::Open(logOptions, log)) {
      std::fprintf(messages, "nserver: cannot open the transaction log in %s: %s\n",
                   config.logDirHost.c_str(), StatusText(s).c_str());
      return s;
    }
  }
  std::vector<Target> targets;
  DatabaseOptions dbOptions;
  dbOptions.volumeDrive = DriveOf(config.dataDirWin);
  dbOptions.stateDir = config.stateDirHost;
  dbOptions.log = log.get();
  for (const std::string& relative : FindDatabaseFiles(config.dataDirHost)) {
    Target t;
    t.path = config.dataDirHost + "/" + relative;
    STATUS s = OpenTarget(t, dbOptions);
    if (s != NOERROR && s != ERR_DB_OFFLINE) {
      std::fprintf(messages, "nserver: skipping %s: %s\n", relative.c_str(), StatusText(s).c_str());
      continue;
    }
    targets.push_back(std::move(t));
  }
  stats.databases = std::uint32_t(targets.size());
  if (targets.empty()) {
    std::fprintf(messages, "nserver: no databases under %s\n", config.dataDirHost.c_str());
    return ERR_FILE_NOT_FOUND;
  }

  std::mt19937_64 rng(options.seed);
  std::uint32_t maxPages = options.maxPagesPerWrite == 0 ? 1 : options.maxPagesPerWrite;
  std::vector<std::uint8_t> payloads(std::size_t(maxPages) * kPagePayload);
  std::vector<PageWrite> writes(maxPages);
  std::uint8_t record[kDbRecordSize];
  double start = NowSeconds();
  std::uint32_t failuresInARow = 0;
  std::size_t offlineInARow = 0;
  // Transactions that follow each other without a pause share one hold of
  // the volume's write lock, for at most kHoldTransactions or kHoldSeconds.
  constexpr std::uint32_t kHoldTransactions = 64;
  constexpr double kHoldSeconds = 0.005;
  const char drive = DriveOf(config.dataDirWin);
  VolumeHold hold;
  double holdStart = 0;
  std::uint32_t held = 0;
  while (!stop.load()) {
    double now = NowSeconds();
    if (hold.held() && (held >= kHoldTransactions || now - holdStart >= kHoldSeconds)) hold.Release();
    if (options.durationSeconds > 0 && now - start >= options.durationSeconds) break;
    if (options.maxTransactions != 0 && stats.transactions >= options.maxTransactions) break;
    if (options.rate > 0) {
      double due = start + double(stats.transactions + stats.errors) / options.rate;
      if (due > now) {
        hold.Release();
        SleepSeconds(due - now, stop);
        continue;
      }
    }
    if (!hold.held() && hold.Acquire(drive)) {
      holdStart = now;
      held = 0;
    }
    ++held;
    Target& t = targets[rng() % targets.size()];
    if (t.db == nullptr) {
      // Offline: left alone, and looked at again now and then.
      bool online = false;
      if (now >= t.retryAt) {
        online = OpenTarget(t, dbOptions) == NOERROR;
        if (!online) t.retryAt = now + kOfflineRetrySeconds;
      }
      if (!online) {
        if (++offlineInARow >= targets.size()) {
          hold.Release();
          SleepSeconds(kOfflineRetrySeconds, stop);
          offlineInARow = 0;
        }
        continue;
      }
      std::fprintf(messages, "nserver: %s is online\n", t.path.c_str());
    }
    offlineInARow = 0;
    std::uint32_t count = 1 + std::uint32_t(rng() % maxPages);
    std::uint32_t pageCount = t.pageCount;
    for (std::uint32_t i = 0; i < count; ++i) {
      bool grow = pageCount < t.growLimit && (pageCount <= 1 || rng() % options.growEvery == 0);
      writes[i].pageNo = grow ? pageCount++ : 1 + std::uint32_t(rng() % (pageCount - 1));
      writes[i].payload = payloads.data() + std::size_t(i) * kPagePayload;
      FillBytes(payloads.data() + std::size_t(i) * kPagePayload, kPagePayload, rng());
    }
    bool withRecord = options.recordEvery != 0 && rng() % options.recordEvery == 0;
    if (withRecord) {
      t.db->ReadDbRecord(record);
      FillBytes(record + kRecordFree, kDbRecordSize - kRecordFree, rng());  // title and replica id stay
    }
    STATUS s = t.db->Write(writes.data(), count, withRecord ? record : nullptr);
    if (s == ERR_DB_OFFLINE) {
      // Taken offline: closed until it is online again.
      std::fprintf(messages, "nserver: %s is offline\n", t.path.c_str());
      t.db.reset();
      t.retryAt = now + kOfflineRetrySeconds;
      continue;
    }
    if (s == NOERROR) {
      t.pageCount = pageCount;
      ++stats.transactions;
      stats.pages += count;
      failuresInARow = 0;
    } else {
      ++stats.errors;
      DbHeader header;
      if (t.db->ReadHeader(header) == NOERROR) t.pageCount = header.pageCount;
      std::fprintf(messages, "nserver: write to %s failed: %s\n", t.db->path().c_str(),
                   StatusText(s).c_str());
      if (++failuresInARow >= 100) return s;
    }
  }
  return NOERROR;
}

}  // namespace dominosim
