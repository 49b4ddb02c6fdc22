#include "ledger/restore_journal.h"

#include "domino/host_utils.h"
#include "domino/settings.h"
#include "ledger/text_lines.h"
#include "platform/files.h"

namespace ark {

namespace {

constexpr const char* kHeader = "ark restore journal 1";

constexpr struct {
  RestoreStep step;
  const char* text;
} kSteps[] = {
    {RestoreStep::Checked, "checked"},
    {RestoreStep::CopyingLogs, "copying logs"},
    {RestoreStep::KeepingLogs, "keeping logs"},
    {RestoreStep::Reverting, "reverting"},
    {RestoreStep::LogsPutBack, "logs put back"},
    {RestoreStep::ApplyingChangeInfo, "applying change information"},
    {RestoreStep::Recovering, "recovering"},
    {RestoreStep::DatabaseOffline, "taking the database offline"},
    {RestoreStep::DatabaseReplaced, "database replaced"},
};

std::string FolderOf(const std::string& path) { return path.substr(0, path.find_last_of('\\')); }

}  // namespace

const char* RestoreStepText(RestoreStep step) {
  for (const auto& entry : kSteps) {
    if (entry.step == step) return entry.text;
  }
  return "?";
}

std::string FormatRestoreJournal(const RestoreJournal& journal) {
  std::string text = std::string(kHeader) + "\r\n";
  auto line = [&text](const char* key, const std::string& value) { text += std::string(key) + "=" + value + "\r\n"; };
  line("server", journal.server);
  line("snapshot", journal.snapshot);
  line("kind", journal.kind);
  line("started", journal.started);
  line("log_directory", journal.logDirectory);
  line("kept_logs", journal.keptLogs);
  line("step", RestoreStepText(journal.step));
  for (const std::string& log : journal.copiedLogs) line("copied_log", log);
  if (!journal.database.empty()) {
    line("database", journal.database);
    line("kept_database", journal.keptDatabase);
    line("restored_copy", journal.restoredCopy);
  }
  return text;
}

bool ParseRestoreJournal(const std::string& text, RestoreJournal& journal) {
  journal = RestoreJournal();
  bool header = false, step = false;
  for (const std::string& line : TextLines(text)) {
    if (!header) {
      if (line != kHeader) return false;
      header = true;
      continue;
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals), value = line.substr(equals + 1);
    if (key == "server") journal.server = value;
    else if (key == "snapshot") journal.snapshot = value;
    else if (key == "kind") journal.kind = value;
    else if (key == "started") journal.started = value;
    else if (key == "log_directory") journal.logDirectory = value;
    else if (key == "kept_logs") journal.keptLogs = value;
    else if (key == "copied_log" && !value.empty()) journal.copiedLogs.push_back(value);
    else if (key == "database") journal.database = value;
    else if (key == "kept_database") journal.keptDatabase = value;
    else if (key == "restored_copy") journal.restoredCopy = value;
    else if (key == "step") {
      step = false;
      for (const auto& entry : kSteps) {
        if (value == entry.text) journal.step = entry.step, step = true;
      }
      if (!step) return false;
    }
  }
  return header && step;
}

int RestoreJournalPath(const DominoServerInfo& server, std::string& path) {
  std::string root, serverLedger;
  if (GetChangeInfoRoot(root) != 0 || GetChangeInfoDir(server, "", serverLedger) != 0) return -1;
  path = root + kRestoreJournalFolder + "\\" + ServerShortName(server);
  return 0;
}

DWORD WriteRestoreJournal(const std::string& path, const RestoreJournal& journal) {
  const std::string folder = FolderOf(path);
  if (CreateDirectoryTree(folder) != 1) return ERROR_PATH_NOT_FOUND;
  return platform::WriteWholeFile(path, FormatRestoreJournal(journal));
}

DWORD ReadRestoreJournal(const std::string& path, RestoreJournal& journal) {
  std::string text;
  const DWORD error = platform::ReadWholeFile(path, text);
  if (error == ERROR_PATH_NOT_FOUND) return ERROR_FILE_NOT_FOUND;
  if (error != ERROR_SUCCESS) return error;
  return ParseRestoreJournal(text, journal) ? ERROR_SUCCESS : ERROR_INVALID_DATA;
}

DWORD RemoveRestoreJournal(const std::string& path) {
  DWORD error = platform::DeleteFile(path);
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return ERROR_SUCCESS;
  if (error != ERROR_SUCCESS) return error;
  const std::string folder = FolderOf(path);
  error = platform::FlushToDisk(folder);
  platform::RemoveDirectory(folder);  // only once no other server's journal is in it
  return error == ERROR_PATH_NOT_FOUND ? ERROR_SUCCESS : error;
}

std::string InterruptedRestoreText(const RestoreJournal& journal) {
  return "The " + journal.kind + " restore of server " + journal.server + " from snapshot " + journal.snapshot +
         ", started " + journal.started + ", was interrupted (step reached: " + RestoreStepText(journal.step) +
         ").\r\n";
}

namespace {

std::string DescribeJournal(const std::string& path, RestoreJournal& journal) {
  const DWORD error = ReadRestoreJournal(path, journal);
  if (error == ERROR_FILE_NOT_FOUND) return std::string();
  if (error != ERROR_SUCCESS) {
    return "The restore journal " + path + " cannot be read (" + platform::FormatMessage(error) +
           "): a restore was interrupted.\r\n";
  }
  return InterruptedRestoreText(journal);
}

}  // namespace

std::string FindInterruptedRestore(const DominoServerInfo& server) {
  std::string path;
  if (RestoreJournalPath(server, path) != 0) return std::string();
  RestoreJournal journal;
  return DescribeJournal(path, journal);
}

namespace {

// The temporary file a journal is written to before it replaces the
// journal: ".<name>.<pid>.<n>.tmp" or "<name>.ark-<pid>-<n>.tmp". One that a
// writer which died left behind is no journal of its own.
bool IsWritersTemporaryFile(const std::string& name) {
  if (!name.ends_with(".tmp")) return false;
  std::string rest = name.substr(0, name.size() - 4);
  auto takeNumber = [&rest](char separator) {
    const std::size_t at = rest.find_last_of(separator);
    if (at == std::string::npos || at + 1 == rest.size() ||
        rest.find_first_not_of("0123456789", at + 1) != std::string::npos) {
      return false;
    }
    rest.resize(at);
    return true;
  };
  if (takeNumber('.') && takeNumber('.')) return name.front() == '.';
  rest = name.substr(0, name.size() - 4);
  return takeNumber('-') && takeNumber('-') && rest.ends_with(".ark");
}

}  // namespace

std::vector<FoundJournal> ListInterruptedRestores() {
  std::vector<FoundJournal> found;
  std::string root;
  if (GetChangeInfoRoot(root) != 0) return found;
  const std::string folder = root + kRestoreJournalFolder + "\\";
  std::vector<platform::DirectoryName> names;
  if (platform::ListDirectoryNames(folder, names) != ERROR_SUCCESS) return found;
  for (const platform::DirectoryName& name : names) {
    if (name.directory || IsWritersTemporaryFile(name.name)) continue;
    RestoreJournal journal;
    const std::string text = DescribeJournal(folder + name.name, journal);
    if (!text.empty()) found.push_back({folder + name.name, text, journal.keptLogs});
  }
  return found;
}

}  // namespace ark
