// The transaction logs kept in the ArkLedger: a backup archives the logs
// Domino has finished with into the "logs\" folder of its snapshot's
// ArkLedger directory, each named "S%07d.TXN" after its log number.
#pragma once

#include <string>
#include <vector>

#include "platform/win_types.h"

namespace ark {

inline constexpr const char* kLogsFolderName = "logs";
// The "logs\" folder of an ArkLedger directory (ending in "\").
std::string LogsFolderOf(const std::string& ledgerDirectory);
// The ArkLedger directory whose "logs\" folder is the directory given (a
// directory ending in "logs\", in any letter case, loses that ending; any
// other is returned as it is).
std::string LedgerOfLogsFolder(const std::string& directory);

// "S%07d": the name of log number n without its extension.
std::string LogBaseName(DWORD logNumber);
// "S%07d.TXN": the name of an archived log.
std::string ArchivedLogName(DWORD logNumber);
// The log number that a file name spelled as ArchivedLogName spells it
// stands for ("S" and at least seven digits without further leading zeros,
// ".TXN", any letter case); false for any other name.
bool ParseLogFileName(const std::string& fileName, DWORD& number);
// The number of any log file name: the digits that follow its first
// character (all of them, so eight-digit numbers count too; 0xFFFFFFFF when
// they overflow, 0 when there are none).
DWORD LogNumberOfFile(const std::string& fileName);

// Appends the path of every file ending in ".txn" (any letter case) below
// directory, subdirectories included except those whose names begin with
// "."; a directory that cannot be listed adds nothing.
void FindTransactionLogs(const std::string& directory, std::vector<std::string>& list);

// The logs FindTransactionLogs finds whose names ParseLogFileName reads, with
// their numbers, in the listing's order.
struct NumberedLog {
  std::string path;
  DWORD number = 0;
};
std::vector<NumberedLog> FindNumberedLogs(const std::string& directory);

}  // namespace ark
