// Names and places of the transaction logs kept in the ArkLedger.
#include "ledger/log_files.h"

#include <cctype>
#include <cstdio>
#include <string_view>

#include "domino/settings.h"
#include "platform/files.h"
#include "platform/text.h"

namespace ark {

namespace {

constexpr std::string_view kLogExtension = ".TXN";

}  // namespace

std::string LogsFolderOf(const std::string& ledgerDirectory) {
  return WithBackslash(ledgerDirectory) + kLogsFolderName + "\\";
}

std::string LedgerOfLogsFolder(const std::string& directory) {
  const std::string folder = std::string(kLogsFolderName) + "\\";
  if (!platform::EndsWithNoCase(directory, folder)) return directory;
  return directory.substr(0, directory.size() - folder.size());
}

std::string LogBaseName(DWORD logNumber) {
  char name[32];
  std::snprintf(name, sizeof name, "S%07u", unsigned(logNumber));
  return name;
}

std::string ArchivedLogName(DWORD logNumber) { return LogBaseName(logNumber) + std::string(kLogExtension); }

bool ParseLogFileName(const std::string& fileName, DWORD& number) {
  if (!platform::EndsWithNoCase(fileName, kLogExtension)) return false;
  const std::string base = fileName.substr(0, fileName.size() - kLogExtension.size());
  if (base.size() < 2 || (base[0] != 'S' && base[0] != 's')) return false;
  std::uint64_t value = 0;
  for (std::size_t i = 1; i < base.size(); ++i) {
    if (base[i] < '0' || base[i] > '9') return false;
    value = value * 10 + std::uint64_t(base[i] - '0');
    if (value > 0xFFFFFFFFull) return false;
  }
  // Only the spelling a restore looks for names a log.
  if (!platform::EqualsNoCase(base, LogBaseName(DWORD(value)))) return false;
  number = DWORD(value);
  return true;
}

DWORD LogNumberOfFile(const std::string& fileName) {
  DWORD number = 0;
  for (std::size_t i = 1; i < fileName.size() && std::isdigit(static_cast<unsigned char>(fileName[i])); ++i) {
    const DWORD digit = DWORD(fileName[i] - '0');
    if (number > (0xFFFFFFFFu - digit) / 10) return 0xFFFFFFFFu;
    number = number * 10 + digit;
  }
  return number;
}

void FindTransactionLogs(const std::string& directory, std::vector<std::string>& list) {
  const std::string d = WithBackslash(directory);
  std::vector<platform::DirectoryName> entries;
  if (platform::ListDirectoryNames(d, entries) != ERROR_SUCCESS) return;
  for (const platform::DirectoryName& entry : entries) {
    if (entry.directory) {
      if (!entry.name.empty() && entry.name.front() == '.') continue;
      FindTransactionLogs(d + entry.name, list);
    } else if (platform::EndsWithNoCase(entry.name, kLogExtension)) {
      list.push_back(d + entry.name);
    }
  }
}

std::vector<NumberedLog> FindNumberedLogs(const std::string& directory) {
  std::vector<std::string> logs;
  FindTransactionLogs(directory, logs);
  std::vector<NumberedLog> numbered;
  for (const std::string& path : logs) {
    SplitPathResult parts;
    DWORD number = 0;
    if (SplitPath(path, parts) == 0 && ParseLogFileName(parts.fileName + parts.extension, number)) {
      numbered.push_back({path, number});
    }
  }
  return numbered;
}

}  // namespace ark
