// The active transaction logs of a server whose log directory lies on the
// volume that a restore reverts: a revert would take them back to the
// snapshot's time, losing every transaction logged since. Their files are
// copied aside to a folder on the ArkLedger's drive before the revert and put
// back after it, so that the log directory then holds exactly what it held
// before and recovery can replay it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "common/records.h"

namespace ark {

// Folder below the ArkLedger root that holds the copies, one folder per
// server and restore. Its "$" cannot begin a Domino server name, so it never
// meets a server's own ArkLedger directory.
inline constexpr const char* kKeptLogsFolder = "$kept_logs";

class KeptLogs {
 public:
  explicit KeptLogs(RestoreRequest& request) : request_(request) {}
  // Removes the copies while the volume is still untouched; once the revert
  // has started they stay until Discard, as the only sure record of the logs.
  ~KeptLogs();
  KeptLogs(const KeptLogs&) = delete;
  KeptLogs& operator=(const KeptLogs&) = delete;

  // When the server's log directory lies on the drive the restore reverts,
  // copies every file of it into a new folder below the ArkLedger root
  // (ledgerRoot, ending in "\"), after checking the free space of that drive.
  // folderChosen is told the new folder before anything is copied into it
  // (a non-empty answer is the reason the run must stop). The copies are
  // flushed to the disk before it returns.
  // 0 when nothing needs keeping or all was kept; -1 with errorText set (and
  // printed) when the files cannot be kept: nothing has changed then.
  int KeepAside(const std::string& ledgerRoot, std::string& errorText,
                const std::function<std::string(const std::string& folder)>& folderChosen = {});
  // Takes on the folder that an interrupted run kept the files of
  // logDirectory in, as if this object had kept them and the revert had
  // started. 0, or -1 with errorText set (and printed) when the folder
  // cannot be listed.
  int Adopt(const std::string& folder, const std::string& logDirectory, std::string& errorText);
  std::size_t Count() const { return names_.size(); }
  // False once the revert has started until the files are put back.
  bool LogsInPlace() const { return folder_.empty() || !revertStarted_ || putBack_; }
  // Called right before the revert: from then on the copies outlive this
  // object (on the ArkLedger drive) until Discard.
  void RevertStarting() { revertStarted_ = true; }
  // Makes the log directory hold exactly the kept files again, flushed to
  // the disk. 0 (also when
  // nothing was kept), or -1 with errorText set (and printed) naming the
  // folder that keeps the copies.
  int PutBack(std::string& errorText);
  // After a successful recovery: the copies are no longer needed. Removes
  // their folder (and the empty folders above it); a removal that fails is
  // not reported and leaves the files.
  void Discard();
  // After a failed run: the lines that name the folder still holding the
  // copies once the revert had started (empty when there is none, or when
  // the failure to put them back has named it already).
  std::string FailureNote() const;

 private:
  void RemoveFolder();

  RestoreRequest& request_;
  std::string logDirectory_;  // ends in "\"
  std::string folder_;        // ends in "\"; empty while nothing is kept
  std::vector<std::string> names_;
  bool revertStarted_ = false;
  bool putBackFailed_ = false;
  bool putBack_ = false;
};

}  // namespace ark
