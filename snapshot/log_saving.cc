// Saving the transaction logs that newer snapshots still need.
#include "snapshot/log_saving.h"

#include "domino/host_utils.h"
#include "ledger/hint_files.h"
#include "ledger/log_files.h"
#include "output/output.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/text.h"
#include "snapshot/snapshot_names.h"

namespace ark::snapshot {

namespace {

constexpr const char* kRecent = "recent";
constexpr const char* kNameSeparator = "__";
constexpr int kWalkDepthLimit = 64;  // guards against links that loop

std::string WithoutTrailingBackslashes(std::string path) {
  while (!path.empty() && path.back() == '\\') path.pop_back();
  return path;
}

// The directory part of a file path, without its trailing "\".
std::string ParentOf(const std::string& path) {
  const std::size_t separator = path.find_last_of('\\');
  return separator == std::string::npos ? std::string() : path.substr(0, separator);
}

std::string LastComponent(const std::string& path) {
  const std::size_t separator = path.find_last_of('\\');
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

// The text after the last "__", or nothing when there is none.
bool TextAfterLastSeparator(const std::string& text, std::string& after) {
  const std::size_t at = text.rfind(kNameSeparator);
  if (at == std::string::npos) return false;
  after = text.substr(at + 2);
  return true;
}

void Walk(const std::string& directory, int depth, std::vector<LogReference>& out) {
  if (depth > kWalkDepthLimit) return;
  std::vector<platform::DirectoryName> entries;
  if (platform::ListDirectoryNames(directory, entries) != ERROR_SUCCESS) return;
  for (const platform::DirectoryName& entry : entries) {
    if (entry.directory) {
      if (!entry.name.empty() && entry.name[0] != '.') Walk(directory + entry.name + "\\", depth + 1, out);
    } else if (platform::EqualsNoCase(entry.name, kLogHintName)) {
      LogReference reference;
      std::string series;
      if (ReadLogHint(directory, reference.firstLog, series, reference.hintPath) == 0) {
        out.push_back(std::move(reference));
      }
    }
  }
}

}  // namespace

std::vector<LogReference> ReadLogReferences(const std::string& directory) {
  std::vector<LogReference> references;
  if (!directory.empty()) Walk(directory, 0, references);
  return references;
}

bool SnapshotTimeOfDirectory(const std::string& directory, FILETIME& time) {
  const std::string path = WithoutTrailingBackslashes(directory);
  std::string stamp;
  if (!TextAfterLastSeparator(path, stamp) || stamp.find('\\') != std::string::npos) return false;
  if (platform::EqualsNoCase(stamp, kRecent)) {
    std::string datedName;
    if (!ReadSnapshotTimeDate(path, datedName) || !TextAfterLastSeparator(datedName, stamp)) return false;
  }
  time = ReadTimeStamp(stamp);
  return FileTimeToU64(time) != 0;
}

void SaveNeededLogs(OutputSink& out, const std::string& ledgerDirectory,
                    const std::vector<LogReference>& references) {
  FILETIME logTime;
  if (!SnapshotTimeOfDirectory(ledgerDirectory, logTime)) return;
  std::vector<std::string> logs;
  FindTransactionLogs(WithoutTrailingBackslashes(ledgerDirectory), logs);
  for (const std::string& log : logs) {
    const std::string fileName = LastComponent(log);
    const DWORD number = LogNumberOfFile(fileName);
    const std::size_t dot = fileName.find_last_of('.');
    const std::string stem = dot == std::string::npos ? fileName : fileName.substr(0, dot);
    for (const LogReference& reference : references) {
      const std::string snapshotDirectory = ParentOf(reference.hintPath);
      FILETIME referenceTime;
      if (!SnapshotTimeOfDirectory(snapshotDirectory, referenceTime)) continue;
      if (platform::CompareFileTime(referenceTime, logTime) != 1 || number < reference.firstLog) continue;
      // A snapshot removed earlier in this run has no directory to take the log.
      if (DirectoryExists(snapshotDirectory) != 0) continue;
      const std::string logsFolder = snapshotDirectory + "\\" + kLogsFolderName;
      platform::CreateDirectory(logsFolder);
      const std::string destination = logsFolder + "\\" + stem + ".TXN";
      Output(out, "Saving  log file " + log + "\r\n" + "Moving to " + destination + "\r\n");
      if (platform::MoveFile(log, destination) == ERROR_SUCCESS) break;
    }
  }
}

}  // namespace ark::snapshot
