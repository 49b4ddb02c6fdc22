// The transaction logs that an up-to-the-minute restore needs: checked and
// copied into the active log directory before the volume is reverted, and
// removed again after recovery.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "common/records.h"

namespace ark {

// Every log file counts as this many megabytes in the free-space check.
constexpr unsigned kLogFileMegabytes = 64;

// Makes sure every log from the snapshot's log hint up to the current log is
// in the active log directory, copying saved ArkLedger copies in; the paths
// copied are appended to copiedLogs (flushed to the disk; a log already in
// the directory is left as it is and not appended). Checks the log series and
// the free space of the log drive (64 MB a log) first. Prints its progress
// through request.output. 0 when recovery can proceed, -1 with errorText set
// to the printed failure message; the logs copied before a failed copy stay
// listed in copiedLogs for the caller to remove. logCopied, when given, is
// told each path as it is appended.
int EnsureRecoveryLogs(RestoreRequest& request, std::vector<std::string>& copiedLogs,
                       std::string& errorText,
                       const std::function<void(const std::string& path)>& logCopied = {});

// Deletes each copied log (a file already gone is fine); always 0, also when
// a delete failed: that one is only printed ("Removing log: ...") and the
// file stays.
int RemoveCopiedLogs(RestoreRequest& request, const std::vector<std::string>& copiedLogs);

// Removes the copied logs when it goes out of scope unless that was done
// already, so no exit of a run (a failure, an exception) leaves copies
// behind in the server's active log directory.
class CopiedLogsGuard {
 public:
  CopiedLogsGuard(RestoreRequest& request, std::vector<std::string>& copiedLogs)
      : request_(request), copiedLogs_(copiedLogs) {}
  ~CopiedLogsGuard();
  CopiedLogsGuard(const CopiedLogsGuard&) = delete;
  CopiedLogsGuard& operator=(const CopiedLogsGuard&) = delete;

  // Removes them now (once; later calls and the destructor do nothing);
  // RemoveCopiedLogs's 0.
  int RemoveNow();

 private:
  RestoreRequest& request_;
  std::vector<std::string>& copiedLogs_;
  bool removed_ = false;
};

}  // namespace ark
