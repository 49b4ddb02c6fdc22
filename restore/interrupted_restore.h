// A restore that dies in the middle (a power cut, the service killed) must
// not lose the live logs: the run keeps a journal in the ArkLedger
// (ledger/restore_journal.h) from before it changes anything until it has
// ended, and the next restore of the server finishes what the dead one left.
#pragma once

#include <optional>
#include <string>

#include "common/records.h"
#include "ledger/restore_journal.h"

namespace ark {

// The journal of the running restore.
class RestoreJournalKeeper {
 public:
  explicit RestoreJournalKeeper(RestoreRequest& request) : request_(request) {}
  RestoreJournalKeeper(const RestoreJournalKeeper&) = delete;
  RestoreJournalKeeper& operator=(const RestoreJournalKeeper&) = delete;

  // Writes the journal at step Checked, naming the server, the snapshot,
  // kind and the log directory. 0, or -1 with errorText set (and printed):
  // nothing has changed then.
  int Begin(const std::string& kind, std::string& errorText);
  // Records the step reached. Until the revert starts a journal that cannot
  // be written stops the run (-1, errorText set and printed); from then on
  // the run goes on after a warning, since stopping would not undo the revert.
  int Step(RestoreStep step, std::string& errorText);
  // Records a log copied into the active log directory for recovery.
  void LogCopied(const std::string& path);
  // Records the folder that will keep the active logs; "" or the reason the
  // run must stop.
  std::string KeptLogsFolder(const std::string& folder);
  // The run has ended: the journal goes, unless this run took over a volume
  // that an interrupted run had left half restored and never reverted it
  // itself; then that run's journal is written back, so that backups keep
  // refusing until a restore has reverted the volume.
  void End();
  // The journal (at path) of an interrupted run whose revert had started and
  // whose logs are back in place. Until this run's own revert starts, what
  // it writes keeps that journal's step (with this run's copied logs).
  void TakeOver(const std::string& path, const RestoreJournal& interrupted);

 private:
  DWORD Write();

  RestoreRequest& request_;
  std::string path_;  // empty until Begin wrote it
  RestoreJournal journal_;
  std::optional<RestoreJournal> halfRestored_;
  bool reverted_ = false;
};

// Looks for the journal of an interrupted restore of the request's server
// and finishes that run's work: when its revert had started, the active
// logs it kept go back into the log directory exactly as it would have put
// them; the logs it copied in for recovery are removed; then its folder of
// kept logs. Its journal goes when it had not started the revert; else it
// stays, rewritten at step "logs put back" without the folder, and keeper
// takes it over. Says what it found and did. 0 (also when there is none),
// or -1 with errorText set (and printed) when the journal cannot be read or
// the logs cannot be put back: the journal stays as it was then.
int FinishInterruptedRestore(RestoreRequest& request, RestoreJournalKeeper& keeper, std::string& errorText);

}  // namespace ark
