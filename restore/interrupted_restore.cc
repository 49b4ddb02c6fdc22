#include "restore/interrupted_restore.h"

#include "domino/host_utils.h"
#include "domino/settings.h"
#include "output/output.h"
#include "platform/files.h"
#include "restore/interrupted_database_restore.h"
#include "restore/kept_logs.h"
#include "restore/recovery_logs.h"

namespace ark {

namespace {

std::string SystemText(DWORD error) { return platform::FormatMessage(error).substr(0, 1024); }

std::string WithoutBackslash(std::string directory) {
  while (directory.size() > 3 && directory.back() == '\\') directory.pop_back();
  return directory;
}

int PrintAndFail(RestoreRequest& request, std::string& errorText, const std::string& message) {
  Output(request.output, message);
  errorText = message;
  return -1;
}

}  // namespace

DWORD RestoreJournalKeeper::Write() {
  // A volume that an interrupted run left half restored stays marked as
  // such until this run's own revert starts: a crash before that must not
  // make the next run take the volume for untouched. The archived logs this
  // run copied in are named for that run to remove; a folder of kept logs
  // still being filled is not (the live logs are still in their place).
  if (halfRestored_ && journal_.step < RestoreStep::Reverting) {
    RestoreJournal marked = *halfRestored_;
    marked.copiedLogs = journal_.copiedLogs;
    return WriteRestoreJournal(path_, marked);
  }
  return WriteRestoreJournal(path_, journal_);
}

int RestoreJournalKeeper::Begin(const std::string& kind, std::string& errorText) {
  const DominoServerInfo& server = request_.server;
  std::string path;
  DWORD error = ERROR_PATH_NOT_FOUND;
  if (RestoreJournalPath(server, path) == 0) {
    journal_.server = server.serverName;
    journal_.snapshot = request_.snapshot.name;
    journal_.kind = kind;
    journal_.started = LocalTimeText();
    journal_.logDirectory = server.logDirectory;
    path_ = path;
    error = Write();
  }
  if (error != ERROR_SUCCESS) {
    path_.clear();
    return PrintAndFail(request_, errorText,
                        "ERROR: The restore journal " + path + " cannot be written:\r\n" + SystemText(error) +
                            "\r\nRestore canceled; the volume was not changed.\r\n");
  }
  return 0;
}

int RestoreJournalKeeper::Step(RestoreStep step, std::string& errorText) {
  if (step >= RestoreStep::LogsPutBack) reverted_ = true;
  if (path_.empty()) return 0;
  journal_.step = step;
  const DWORD error = Write();
  if (error == ERROR_SUCCESS) return 0;
  const std::string text = "The restore journal " + path_ + " cannot be written:\r\n" + SystemText(error) + "\r\n";
  if (step <= RestoreStep::Reverting) {
    return PrintAndFail(request_, errorText, "ERROR: " + text + "Restore canceled; the volume was not changed.\r\n");
  }
  Output(request_.output, "WARNING: " + text);
  return 0;
}

void RestoreJournalKeeper::LogCopied(const std::string& path) {
  if (path_.empty()) return;
  journal_.step = RestoreStep::CopyingLogs;
  journal_.copiedLogs.push_back(path);
  // A journal that cannot take the line leaves one copy of an archived log
  // behind after a crash: recovery and later runs take it as any other.
  (void)Write();
}

std::string RestoreJournalKeeper::KeptLogsFolder(const std::string& folder) {
  if (path_.empty()) return std::string();
  journal_.step = RestoreStep::KeepingLogs;
  journal_.keptLogs = folder;
  const DWORD error = Write();
  return error == ERROR_SUCCESS ? std::string()
                                : "The restore journal " + path_ + " cannot be written.\r\n" + SystemText(error);
}

void RestoreJournalKeeper::TakeOver(const std::string& path, const RestoreJournal& interrupted) {
  halfRestored_ = interrupted;
  path_ = path;
}

void RestoreJournalKeeper::End() {
  if (path_.empty()) return;
  if (halfRestored_ && !reverted_) {
    journal_ = *halfRestored_;
    if (const DWORD error = Write(); error != ERROR_SUCCESS) {
      Output(request_.output, "WARNING: The restore journal " + path_ + " could not be written:\r\n" +
                                  SystemText(error) + "\r\nThe volume is still half restored: run the restore again "
                                  "before the next backup.\r\n");
    }
    path_.clear();
    return;
  }
  if (const DWORD error = RemoveRestoreJournal(path_); error != ERROR_SUCCESS) {
    Output(request_.output, "WARNING: The restore journal " + path_ + " could not be removed:\r\n" +
                                SystemText(error) + "\r\nDelete it; this restore needs nothing more.\r\n");
  }
  path_.clear();
}

int FinishInterruptedRestore(RestoreRequest& request, RestoreJournalKeeper& keeper, std::string& errorText) {
  std::string path;
  if (RestoreJournalPath(request.server, path) != 0) return 0;
  RestoreJournal journal;
  const DWORD error = ReadRestoreJournal(path, journal);
  if (error == ERROR_FILE_NOT_FOUND) return 0;
  if (error != ERROR_SUCCESS) {
    std::string root;
    GetChangeInfoRoot(root);
    return PrintAndFail(request, errorText,
                        "ERROR: The restore journal " + path + " of an interrupted restore cannot be read:\r\n" +
                            SystemText(error) + "\r\nThe active log files it kept are in a folder below " + root +
                            kKeptLogsFolder + "; put them back into the log directory by hand, then delete the "
                            "journal.\r\nRestore canceled; the volume was not changed.\r\n");
  }
  if (IsDatabaseJournal(journal)) {
    // One database restored in place: the volume's logs were not touched.
    return FinishInterruptedDatabaseRestore(request, path, journal, errorText);
  }
  Output(request.output, "Found an interrupted restore:\r\n" + InterruptedRestoreText(journal));

  const bool reverted = journal.step >= RestoreStep::Reverting;
  // Once that run had put the logs back, the log directory holds them, and
  // whatever was written there since: the folder is put back no more.
  const bool logsBack = journal.step >= RestoreStep::LogsPutBack;
  KeptLogs kept(request);
  if (reverted && !logsBack && !journal.keptLogs.empty()) {
    // The kept folder is the only sure record of the logs as they were
    // before that revert: the log directory holds what the revert brought.
    if (kept.Adopt(journal.keptLogs, journal.logDirectory, errorText) != 0) return -1;
    if (kept.PutBack(errorText) != 0) return -1;
  }
  RemoveCopiedLogs(request, journal.copiedLogs);
  // The journal goes before the folder it names; a volume that the revert
  // left half restored keeps one until a restore has reverted it again.
  const std::string keptFolder = journal.keptLogs;
  const std::size_t copiedLogs = journal.copiedLogs.size();
  journal.step = RestoreStep::LogsPutBack;
  journal.keptLogs.clear();
  journal.copiedLogs.clear();
  const DWORD written = reverted ? WriteRestoreJournal(path, journal) : RemoveRestoreJournal(path);
  if (written != ERROR_SUCCESS) {
    return PrintAndFail(request, errorText,
                        "ERROR: The restore journal " + path + " could not be " + (reverted ? "written" : "removed") +
                            ":\r\n" + SystemText(written) + "\r\nRestore canceled.\r\n");
  }
  if (reverted) {
    keeper.TakeOver(path, journal);
    kept.Discard();
  }
  if ((!reverted || logsBack) && !keptFolder.empty()) {
    DeleteDirectoryTree(WithoutBackslash(keptFolder));  // copies of logs that are in their place
  }
  std::string did = reverted ? "Its volume revert had started; this restore reverts the volume again.\r\n"
                             : "It had not changed the volume.\r\n";
  if (copiedLogs != 0) {
    did += "Removed the " + std::to_string(copiedLogs) +
           " archived logs it had copied into the active log directory.\r\n";
  }
  Output(request.output, did + "The interrupted restore is finished; going on with this one.\r\n");
  return 0;
}

}  // namespace ark
