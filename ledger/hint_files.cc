// The recovery hint files beside a snapshot: log_hint (where in the
// transaction log the backup stood), disabled_databases (the databases
// that cannot be rolled forward), change_info_list (the change-information
// files the backup wrote, so that a lost one can be told from a database
// that had no changes) and snapshot_time_date (the dated name the recent
// snapshot will get).
#include "ledger/hint_files.h"

#include <cctype>
#include <cstdio>

#include "domino/domino_api.h"
#include "domino/host_utils.h"
#include "domino/settings.h"
#include "ledger/text_lines.h"
#include "platform/files.h"

namespace ark {

namespace {

constexpr std::size_t kLogPathSize = 1024;

// Writes text as the whole new content of path and makes it, with the
// directories above it, durable: at once, or with the other files of
// `batch` when one is given. A file whose content could not be written
// completely or flushed counts as not created and is removed again: a
// restore must not trust it (a disabled_databases cut short would mark an
// unfinished backup finished, a log_hint cut short name a wrong log).
int WriteNewFile(const std::string& path, const std::string& text, platform::FlushBatch* batch) {
  platform::File file;
  if (file.Open(path, platform::File::Mode::CreateAlways) != ERROR_SUCCESS) return -1;
  const auto removed = [&] {
    file.Close();
    platform::DeleteFile(path);
    return -1;
  };
  if (!text.empty() && file.Write(text.data(), text.size()) != ERROR_SUCCESS) return removed();
  if (file.Close() != ERROR_SUCCESS) return removed();
  platform::FlushBatch own;
  platform::FlushBatch& flushes = batch != nullptr ? *batch : own;
  flushes.Add(path);
  flushes.AddDirectoriesAbove(path);
  std::string failed;
  if (batch != nullptr || own.Flush(failed) == ERROR_SUCCESS) return 0;
  return removed();
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

}  // namespace

std::string LogSeries(const std::array<BYTE, 16>& logId) {
  DWORD series = 0;
  for (int word = 0; word < 4; ++word) {
    DWORD value = 0;
    for (int i = 0; i < 4; ++i) value |= DWORD(logId[word * 4 + i]) << (8 * i);
    series ^= value;
  }
  char text[16];
  std::snprintf(text, sizeof text, "%08x", unsigned(series));
  return text;
}

int WriteLogHint(const std::string& directory, DWORD logExtent, const std::array<BYTE, 16>& logId,
                 std::string& path, platform::FlushBatch* batch) {
  path = WithBackslash(directory) + kLogHintName;
  return WriteNewFile(path, std::to_string(logExtent) + "\r\n" + LogSeries(logId), batch);
}

int ReadLogHint(const std::string& directory, DWORD& logExtent, std::string& logSeries,
                std::string& path) {
  const std::string hintPath = WithBackslash(directory) + kLogHintName;
  std::string text;
  if (platform::ReadWholeFile(hintPath, text) != ERROR_SUCCESS) return -1;
  path = hintPath;

  // First item: a decimal number; without one, nothing is taken.
  std::size_t at = 0;
  while (at < text.size() && IsBlank(text[at])) ++at;
  std::size_t digits = at;
  unsigned long long number = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
    if (number <= 0xFFFFFFFFull) number = number * 10 + unsigned(text[digits] - '0');
    ++digits;
  }
  if (digits == at) return 0;
  logExtent = number > 0xFFFFFFFFull ? 0xFFFFFFFFu : DWORD(number);

  // Second item: the log series as text.
  at = digits;
  while (at < text.size() && IsBlank(text[at])) ++at;
  std::size_t end = at;
  while (end < text.size() && !IsBlank(text[end])) ++end;
  if (end > at) logSeries = text.substr(at, end - at);
  return 0;
}

int WriteDisabledDatabases(const std::string& directory, const std::vector<std::string>& disabled,
                           std::string& path, platform::FlushBatch* batch) {
  path = WithBackslash(directory) + kDisabledDatabasesName;
  std::string text;
  for (const std::string& database : disabled) text += database + "\r\n";
  return WriteNewFile(path, text, batch);
}

int ReadDisabledDatabases(const std::string& directory, std::vector<std::string>& disabled,
                          std::string& path) {
  const std::string listPath = WithBackslash(directory) + kDisabledDatabasesName;
  std::string text;
  if (platform::ReadWholeFile(listPath, text) != ERROR_SUCCESS) return -1;
  path = listPath;
  // One path per line, "\r\n" or "\n"; a path may hold blanks. Lines that
  // hold nothing but white space are not entries.
  for (std::string& line : TextLines(text)) {
    bool blank = true;
    for (char c : line) blank = blank && IsBlank(c);
    if (!blank) disabled.push_back(std::move(line));
  }
  return 0;
}

int WriteChangeInfoList(const std::string& directory, const std::vector<ChangeInfoListEntry>& files,
                        std::string& path, platform::FlushBatch* batch) {
  path = WithBackslash(directory) + kChangeInfoListName;
  std::string text;
  for (const ChangeInfoListEntry& file : files) {
    text += std::to_string(file.size) + " " + file.relativePath + "\r\n";
  }
  if (WriteNewFile(path, text, batch) == 0) return 0;
  platform::DeleteFile(path);
  return -1;
}

int ReadChangeInfoList(const std::string& directory, std::vector<ChangeInfoListEntry>& files,
                       std::string& path, std::size_t* badLine, DWORD* readError) {
  path = WithBackslash(directory) + kChangeInfoListName;
  std::string text;
  if (const DWORD error = platform::ReadWholeFile(path, text); error != ERROR_SUCCESS) {
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return -1;
    if (readError != nullptr) *readError = error;
    return -3;
  }
  std::vector<ChangeInfoListEntry> read;
  std::size_t number = 0;
  for (const std::string& line : TextLines(text)) {
    ++number;
    if (line.empty()) continue;
    // Digits, one blank, a path (which may hold blanks of its own).
    std::size_t digits = 0;
    std::uint64_t size = 0;
    bool overflow = false;
    while (digits < line.size() && line[digits] >= '0' && line[digits] <= '9') {
      overflow = overflow || size > (UINT64_MAX - 9) / 10;
      size = size * 10 + std::uint64_t(line[digits] - '0');
      ++digits;
    }
    if (digits == 0 || overflow || digits + 1 >= line.size() || line[digits] != ' ' ||
        line.find_first_not_of(' ', digits + 1) == std::string::npos) {
      if (badLine != nullptr) *badLine = number;
      return -2;
    }
    read.push_back(ChangeInfoListEntry{size, line.substr(digits + 1)});
  }
  files.insert(files.end(), read.begin(), read.end());
  return 0;
}

int WriteSnapshotTimeDate(const std::string& directory, const std::string& datedName) {
  return platform::WriteWholeFile(WithBackslash(directory) + kSnapshotTimeDateName, datedName) == ERROR_SUCCESS
             ? 0
             : -1;
}

bool ReadSnapshotTimeDate(const std::string& directory, std::string& datedName) {
  std::string text;
  if (platform::ReadWholeFile(WithBackslash(directory) + kSnapshotTimeDateName, text) != ERROR_SUCCESS) {
    return false;
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
  datedName = text;
  return true;
}

int GetCurrentLogPosition(DWORD& logNumber, std::string& logSeries) {
  DominoApi& api = Domino();
  bool first = true;
  for (;;) {
    std::array<BYTE, 16> logId{};
    DWORD number = 0;
    char path[kLogPathSize] = {};
    STATUS status = first ? api.GetFirstArchiveLog(logId.data(), &number, path)
                          : api.GetNextArchiveLog(logId.data(), &number, path);
    first = false;
    logSeries = LogSeries(logId);
    if (status == ERR_NO_MORE_LOGS) {
      logNumber = number == 0 ? 1 : number;
      return 0;
    }
    if (status != NOERROR) {
      logNumber = 0;
      return int(status);
    }
  }
}

}  // namespace ark
