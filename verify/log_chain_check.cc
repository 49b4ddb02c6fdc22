#include "verify/log_chain_check.h"

#include <map>
#include <optional>

#include "domino/settings.h"
#include "ledger/hint_files.h"
#include "ledger/log_files.h"
#include "output/output.h"
#include "platform/files.h"
#include "platform/text.h"

namespace ark {

namespace {

// The name of a saved log as the messages give it.
std::string LogFileName(std::uint64_t number) { return ArchivedLogName(DWORD(number)); }

// The highest log number saved in the "logs\" folders of the snapshot's and
// the newer snapshots' ledgers.
std::optional<DWORD> NewestSavedLog(const LogChainInput& input, SavedLogIndex& saved) {
  std::optional<DWORD> newest = saved.NewestIn(input.snapshotLedger);
  for (const std::string& ledger : input.newerLedgers) {
    const std::optional<DWORD> number = saved.NewestIn(ledger);
    if (number && (!newest || *number > *newest)) newest = number;
  }
  return newest;
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

void ReportMissing(FaultReport& report, const std::string& serverLedger, std::uint64_t from, std::uint64_t to,
                   SnapshotVerdict& verdict) {
  if (from == to) {
    report.Write("ERROR: Log " + LogFileName(from) + " is missing from the server's ArkLedger directory " +
                 serverLedger + "\r\n");
  } else {
    report.Write("ERROR: Logs " + LogFileName(from) + " to " + LogFileName(to) +
                 " are missing from the server's ArkLedger directory " + serverLedger + "\r\n");
  }
  verdict.PointInTimeOnly("log " + LogFileName(from) + " missing");
}

// False (after saying so) when a newer snapshot's log_hint names another
// series: the log was reset after this backup, and no log of the snapshot's
// series follows the reset.
bool SeriesUnchanged(OutputSink& out, const LogChainInput& input, SavedLogIndex& saved,
                     SnapshotVerdict& verdict) {
  for (const std::string& ledger : input.newerLedgers) {
    const std::string& newer = saved.SeriesOf(ledger);
    if (newer.empty() || newer == input.logSeries) continue;
    Output(out, "ERROR: The log_hint of the newer snapshot " + WithBackslash(ledger) + kLogHintName +
                    " is of log series 0x" + newer + ", this snapshot's is 0x" + input.logSeries +
                    ":\r\nthe transaction log was reset after this backup.\r\n");
    verdict.PointInTimeOnly("log series changed after the backup");
    return false;
  }
  return true;
}

}  // namespace

SavedLogIndex::SavedLogIndex(const std::string& serverLedger) {
  std::vector<std::string> candidates;
  FindTransactionLogs(serverLedger, candidates);
  for (const std::string& path : candidates) {
    SplitPathResult parts;
    DWORD number = 0;
    if (SplitPath(path, parts) != 0 || !ParseLogFileName(parts.fileName + parts.extension, number)) continue;
    if (logs_.count(number) != 0) continue;
    if (platform::GetFileAttributes(path) == INVALID_FILE_ATTRIBUTES) continue;
    logs_.emplace(number, SavedLog{path, LedgerOfLogsFolder(parts.driveAndDirectory)});
  }
}

const std::string& SavedLogIndex::SeriesOf(const std::string& ledger) {
  auto it = series_.find(ledger);
  if (it != series_.end()) return it->second;
  DWORD extent = 0;
  std::string series, path;
  if (ReadLogHint(ledger, extent, series, path) != 0) series.clear();
  return series_.emplace(ledger, series).first->second;
}

std::optional<DWORD> SavedLogIndex::NewestIn(const std::string& ledger) {
  auto it = newest_.find(ledger);
  if (it != newest_.end()) return it->second;
  std::optional<DWORD> newest;
  std::vector<platform::DirectoryName> entries;
  if (platform::ListDirectoryNames(LogsFolderOf(ledger), entries) ==
      ERROR_SUCCESS) {
    for (const platform::DirectoryName& entry : entries) {
      DWORD number = 0;
      if (!entry.directory && ParseLogFileName(entry.name, number) && (!newest || number > *newest))
        newest = number;
    }
  }
  newest_.emplace(ledger, newest);
  return newest;
}

void CheckLogChain(OutputSink& out, const LogChainInput& input, SavedLogIndex& saved,
                   SnapshotVerdict& verdict) {
  if (!SeriesUnchanged(out, input, saved, verdict)) return;

  const DWORD first = input.firstLog == 0 ? 1 : input.firstLog;
  const std::optional<DWORD> newest = NewestSavedLog(input, saved);
  if (!newest || *newest < first) {
    Output(out, "No log after the backup's log position " + LogFileName(first) +
                    " has been saved yet; later logs are in the server's active log directory.\r\n");
    return;
  }
  const DWORD last = *newest;
  Output(out, "Saved logs needed for an UP TO THE MINUTE restore: " + LogFileName(first) + " to " +
                  LogFileName(last) + "\r\n");

  FaultReport report(out);
  std::uint64_t expected = first;
  for (auto it = saved.logs().lower_bound(first); it != saved.logs().end() && it->first <= last; ++it) {
    const DWORD number = it->first;
    const SavedLogIndex::SavedLog& log = it->second;
    if (number > expected) ReportMissing(report, input.serverLedger, expected, number - 1, verdict);
    expected = std::uint64_t(number) + 1;
    const std::string& logSeries = saved.SeriesOf(log.ledger);
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

}  // namespace ark
