#include "restore/domino_recovery.h"

#include <algorithm>
#include <array>

#include "domino/settings.h"
#include "output/output.h"
#include "output/redirect_stdout.h"
#include "platform/host_seam.h"
#include "platform/text.h"
#include "restore/archived_log_callback.h"

namespace ark {

namespace {

constexpr DWORD kRecoveryOption = 1;
TIMEDATE* const kNoRecoveryTime = nullptr;

bool IsLogDatabase(const SplitPathResult& parts) {
  return platform::EqualsNoCase(parts.fileName, "log");
}

bool IsDisabled(const std::string& path, const std::vector<std::string>& disabled) {
  return std::any_of(disabled.begin(), disabled.end(), [&](const std::string& entry) {
    return platform::EqualsNoCase(entry, path);
  });
}

// Opens every database but log.nsf once and writes its database record back
// unchanged, which leaves it consistent at the restored state.
void TouchDatabaseRecords(const std::vector<DatabaseEntry>& databases) {
  for (const DatabaseEntry& entry : databases) {
    SplitPathResult parts;
    if (SplitPath(entry.path, parts) != 0 || IsLogDatabase(parts)) continue;
    DBHANDLE handle = 0;
    if (Domino().OpenDatabase(entry.path.c_str(), &handle) != NOERROR || handle == 0) continue;
    std::array<BYTE, 128> record{};
    // A record that could not be read is not written back: writing the
    // empty buffer would destroy the database's record.
    if (Domino().ReadDatabaseRecord(handle, record.data()) == NOERROR) {
      Domino().WriteDatabaseRecord(handle, record.data());
    }
    Domino().CloseDatabase(handle);
    platform::StepReached("recovering");
  }
}

}  // namespace

std::vector<std::string> BuildRecoveryList(const std::vector<DatabaseEntry>& databases,
                                           const std::vector<std::string>& disabled) {
  std::vector<std::string> list;
  for (const DatabaseEntry& entry : databases) {
    SplitPathResult parts;
    if (SplitPath(entry.path, parts) != 0) continue;
    if (IsLogDatabase(parts) || platform::EqualsNoCase(parts.extension, ".ntf") ||
        IsDisabled(entry.path, disabled)) {
      continue;
    }
    list.push_back(entry.path);
  }
  return list;
}

std::vector<char> PackRecoveryList(const std::vector<std::string>& paths) {
  std::size_t size = 1;
  for (const std::string& path : paths) size += path.size() + 1;
  std::vector<char> packed(std::max<std::size_t>(size, 2), '\0');
  std::size_t at = 0;
  for (const std::string& path : paths) {
    std::copy(path.begin(), path.end(), packed.begin() + std::ptrdiff_t(at));
    at += path.size() + 1;
  }
  return packed;
}

std::vector<std::vector<std::string>> SplitRecoveryList(const std::vector<std::string>& paths) {
  std::vector<std::vector<std::string>> runs(1);
  std::size_t packed = 1;  // the closing NUL
  for (const std::string& path : paths) {
    if (!runs.back().empty() && packed + path.size() + 1 > kRecoveryListBuffer) {
      runs.emplace_back();
      packed = 1;
    }
    runs.back().push_back(path);
    packed += path.size() + 1;
  }
  return runs;
}

STATUS RunDominoRecovery(RestoreRequest& request, const std::vector<char>& packedList,
                         WORD& failingPosition) {
  failingPosition = 0;
  STATUS status;
  {
    CRedirectStdout capture(&request.output);
    status = Domino().RecoverDatabaseList(packedList.data(), ArchivedLogCallback,
                                          kRecoveryOption, &failingPosition, kNoRecoveryTime);
  }
  platform::StepReached("recovering");
  if (status == ERR_LOGS_MISSING) {
    Output(request.output, "\r\nRECOVERY FAILED: All log files could not be found.\r\n");
  }
  if (status != NOERROR) {
    Output(request.output, "ERROR: " + DominoErrorText(status, 1024) + "\r\n");
  }
  return status;
}

namespace {

// Up-to-the-minute recovery of one run of the list: a database the runtime
// names as failing is dropped from the run and the run tried again, at most
// the run's length + 2 times.
STATUS RecoverRun(RestoreRequest& request, std::vector<std::string> list) {
  const std::size_t count = list.size();
  std::size_t retries = 0;
  for (;;) {
    WORD failingPosition = 0;
    const STATUS status = RunDominoRecovery(request, PackRecoveryList(list), failingPosition);
    if (status == NOERROR) return NOERROR;
    if (failingPosition == 0 || failingPosition > list.size()) return status;

    const std::string path = list[failingPosition - 1];
    if (status == ERR_DB_NOT_LOGGED) {
      Output(request.output, "WARNING: Transaction logging disabled for : " + path +
                                 ".\r\nRetrying recovery.\r\n");
    } else {
      Output(request.output,
             "WARNING: Removing : " + path + " from recovery list.\r\nRetrying recovery.\r\n");
    }
    list.erase(std::find(list.begin(), list.end(), path));
    if (retries > count) return status;
    ++retries;
  }
}

}  // namespace

int RecoverDatabases(RestoreRequest& request, const std::vector<DatabaseEntry>& databases,
                     const std::optional<std::string>& timeText,
                     const std::vector<std::string>& disabled) {
  CurrentRestoreScope current(request);
  std::vector<std::string> list = BuildRecoveryList(databases, disabled);

  if (timeText.has_value()) {
    TouchDatabaseRecords(databases);
    return 0;
  }

  Output(request.output, "\r\nBeginning Domino UP TO THE MINUTE recovery.\r\n");
  const std::vector<std::vector<std::string>> runs = SplitRecoveryList(list);
  std::size_t first = 1;
  for (const std::vector<std::string>& run : runs) {
    if (runs.size() > 1) {
      Output(request.output, "Recovering databases " + std::to_string(first) + " to " +
                                 std::to_string(first + run.size() - 1) + " of " +
                                 std::to_string(list.size()) + ".\r\n");
    }
    first += run.size();
    if (const STATUS status = RecoverRun(request, run)) return status;
  }
  return 0;
}

}  // namespace ark
