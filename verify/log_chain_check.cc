#include "verify/log_chain_check.h"

#include <map>
#include <optional>

#include "backup/hint_files.h"
#include "backup/log_archive.h"
#include "backup/path_text.h"
#include "domino/settings.h"
#include "output/output.h"
#include "platform/files.h"
#include "platform/text.h"
#include "restore/restore_text.h"

using backup_detail::WithBackslash;
using restore_detail::LogBaseName;

namespace {

constexpr std::string_view kLogsFolder = "logs\\";
constexpr std::string_view kLogExtension = ".txn";

std::string LogFileName(std::uint64_t number) { return LogBaseName(DWORD(number)) + ".TXN"; }

// The snapshot ArkLedger directory that holds a saved log: the directory of
// the file without its "logs\" folder, as a restore reads it.
std::string LedgerOfSavedLog(const std::string& driveAndDirectory) {
  std::string directory = driveAndDirectory;
  if (directory.size() >= kLogsFolder.size() &&
      platform::EqualsNoCase(std::string_view(directory).substr(directory.size() - kLogsFolder.size()),
                             kLogsFolder)) {
    directory.erase(directory.size() - kLogsFolder.size());
  }
  return directory;
}

// The log series of a ledger's log_hint; empty when there is none or it
// cannot be read. Each ledger is read once.
class SeriesCache {
 public:
  const std::string& Of(const std::string& ledger) {
    auto it = cache_.find(ledger);
    if (it != cache_.end()) return it->second;
    DWORD extent = 0;
    std::string series, path;
    if (ReadLogHint(ledger, extent, series, path) != 0) series.clear();
    return cache_.emplace(ledger, series).first->second;
  }

 private:
  std::map<std::string, std::string> cache_;
};

// The highest log number saved in the "logs\" folders of the ledgers.
std::optional<DWORD> NewestSavedLog(const LogChainInput& input) {
  std::optional<DWORD> newest;
  auto scan = [&newest](const std::string& ledger) {
    std::vector<platform::DirectoryName> entries;
    if (platform::ListDirectoryNames(WithBackslash(ledger) + std::string(kLogsFolder), entries) !=
        ERROR_SUCCESS) {
      return;
    }
    for (const platform::DirectoryName& entry : entries) {
      DWORD number = 0;
      if (!entry.directory && ParseLogFileName(entry.name, number) && (!newest || number > *newest))
        newest = number;
    }
  };
  scan(input.snapshotLedger);
  for (const std::string& ledger : input.newerLedgers) scan(ledger);
  return newest;
}

struct SavedLog {
  std::string path;
  std::string ledger;  // the ArkLedger directory whose log_hint tells its series
};

// For each log number in [first, last], the first existing file of that name
// under the server's ArkLedger directory, in the order a restore meets them.
std::map<DWORD, SavedLog> FindSavedLogs(const std::string& serverLedger, DWORD first, DWORD last) {
  std::vector<std::string> candidates;
  FindTransactionLogs(serverLedger, candidates);
  std::map<DWORD, SavedLog> found;
  for (const std::string& path : candidates) {
    SplitPathResult parts;
    DWORD number = 0;
    if (SplitPath(path, parts) != 0 || !ParseLogFileName(parts.fileName + parts.extension, number)) continue;
    if (number < first || number > last || found.count(number) != 0) continue;
    if (platform::GetFileAttributes(path) == INVALID_FILE_ATTRIBUTES) continue;
    found.emplace(number, SavedLog{path, LedgerOfSavedLog(parts.driveAndDirectory)});
  }
  return found;
}

// Writes the findings about faulty logs, at most kDetailedFaults of them, so
// that a long run of faults cannot flood the client; the rest are counted.
class FaultReport {
 public:
  explicit FaultReport(OutputSink& out) : out_(out) {}
  void Write(const std::string& message) {
    if (++faults_ <= kDetailedFaults) Output(out_, message);
  }
  void Close() {
    if (faults_ > kDetailedFaults) {
      Output(out_, "ERROR: " + std::to_string(faults_ - kDetailedFaults) +
                       " further faults of saved logs are not listed.\r\n");
    }
  }
  bool any() const { return faults_ != 0; }

 private:
  static constexpr std::size_t kDetailedFaults = 20;
  OutputSink& out_;
  std::size_t faults_ = 0;
};

void ReportMissing(FaultReport& report, const std::string& serverLedger, std::uint64_t from,
                   std::uint64_t to, SnapshotVerdict& verdict) {
  if (from == to) {
    report.Write("ERROR: Log " + LogFileName(from) +
                 " is missing from the server's ArkLedger directory " + serverLedger + "\r\n");
  } else {
    report.Write("ERROR: Logs " + LogFileName(from) + " to " + LogFileName(to) +
                    " are missing from the server's ArkLedger directory " + serverLedger + "\r\n");
  }
  verdict.PointInTimeOnly("log " + LogFileName(from) + " missing");
}

// False (after saying so) when a newer snapshot's log_hint names another
// series: the log was reset after this backup, and no log of the snapshot's
// series follows the reset.
bool SeriesUnchanged(OutputSink& out, const LogChainInput& input, SeriesCache& series,
                     SnapshotVerdict& verdict) {
  for (const std::string& ledger : input.newerLedgers) {
    const std::string& newer = series.Of(ledger);
    if (newer.empty() || newer == input.logSeries) continue;
    Output(out, "ERROR: The log_hint of the newer snapshot " + WithBackslash(ledger) +
                    "log_hint is of log series 0x" + newer + ", this snapshot's is 0x" +
                    input.logSeries + ":\r\nthe transaction log was reset after this backup.\r\n");
    verdict.PointInTimeOnly("log series changed after the backup");
    return false;
  }
  return true;
}

}  // namespace

bool ParseLogFileName(const std::string& fileName, DWORD& number) {
  if (!backup_detail::EndsWithNoCase(fileName, kLogExtension)) return false;
  const std::string base = fileName.substr(0, fileName.size() - kLogExtension.size());
  if (base.size() < 2 || (base[0] != 'S' && base[0] != 's')) return false;
  std::uint64_t value = 0;
  for (std::size_t i = 1; i < base.size(); ++i) {
    if (base[i] < '0' || base[i] > '9') return false;
    value = value * 10 + std::uint64_t(base[i] - '0');
    if (value > 0xFFFFFFFFull) return false;
  }
  // Only the spelling a restore looks for ("S" and at least seven digits,
  // no further leading zeros) names a log.
  if (!platform::EqualsNoCase(base, LogBaseName(DWORD(value)))) return false;
  number = DWORD(value);
  return true;
}

void CheckLogChain(OutputSink& out, const LogChainInput& input, SnapshotVerdict& verdict) {
  SeriesCache series;
  if (!SeriesUnchanged(out, input, series, verdict)) return;

  const DWORD first = input.firstLog == 0 ? 1 : input.firstLog;
  const std::optional<DWORD> newest = NewestSavedLog(input);
  if (!newest || *newest < first) {
    Output(out, "No log after the backup's log position " + LogFileName(first) +
                    " has been saved yet; later logs are in the server's active log directory.\r\n");
    return;
  }
  const DWORD last = *newest;
  Output(out, "Saved logs needed for an UP TO THE MINUTE restore: " + LogFileName(first) + " to " +
                  LogFileName(last) + "\r\n");

  const std::map<DWORD, SavedLog> saved = FindSavedLogs(input.serverLedger, first, last);
  FaultReport report(out);
  std::uint64_t expected = first;
  for (const auto& [number, log] : saved) {
    if (number > expected) ReportMissing(report, input.serverLedger, expected, number - 1, verdict);
    expected = std::uint64_t(number) + 1;
    const std::string& logSeries = series.Of(log.ledger);
    if (logSeries == input.logSeries) continue;
    if (logSeries.empty()) {
      report.Write("ERROR: The saved log " + log.path +
                   " has no readable log_hint beside it; its log series is unknown.\r\n");
    } else {
      report.Write("ERROR: The saved log " + log.path + " is of log series 0x" + logSeries +
                   ", not of the snapshot's log series 0x" + input.logSeries + ".\r\n");
    }
    verdict.PointInTimeOnly("log " + LogFileName(number) + " of another log series");
  }
  if (expected <= last) ReportMissing(report, input.serverLedger, expected, last, verdict);
  report.Close();
  if (!report.any()) {
    Output(out, "All " + std::to_string(std::uint64_t(last) - first + 1) + " saved logs from " +
                    LogFileName(first) + " to " + LogFileName(last) + " are present and of log series 0x" +
                    input.logSeries + ".\r\n");
  }
}
