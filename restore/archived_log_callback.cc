#include "restore/archived_log_callback.h"

#include <atomic>
#include <string>
#include <vector>

#include "domino/settings.h"
#include "ledger/log_files.h"
#include "output/output.h"
#include "platform/files.h"
#include "platform/text.h"

namespace ark {

namespace {

constexpr STATUS kNothingPlaced = 0xFFFF;

std::atomic<RestoreRequest*> currentRequest{nullptr};

// The first listed path whose file name is name and that exists.
const std::string* FindLog(const std::vector<std::string>& logs, const std::string& name) {
  for (const std::string& path : logs) {
    SplitPathResult parts;
    if (SplitPath(path, parts) != 0 || !platform::EqualsNoCase(parts.fileName, name)) continue;
    if (platform::GetFileAttributes(path) != INVALID_FILE_ATTRIBUTES) return &path;
  }
  return nullptr;
}

}  // namespace

RestoreRequest* CurrentRestoreRequest() { return currentRequest.load(); }
void SetCurrentRestoreRequest(RestoreRequest* request) { currentRequest.store(request); }

STATUS ArchivedLogCallback(void* /*unused*/, DWORD logNumber, const char* path) {
  RestoreRequest* request = CurrentRestoreRequest();
  if (request == nullptr || path == nullptr) return kNothingPlaced;

  SplitPathResult target;
  SplitPath(path, target);

  std::string root;
  const bool haveLedger = GetChangeInfoRoot(root) == 0 && !root.empty();
  std::vector<std::string> logs;
  if (haveLedger) FindTransactionLogs(root + ServerShortName(request->server) + "\\", logs);

  Output(request->output,
         "First archive needed is: " + LogBaseName(logNumber) + "\r\n");
  if (!haveLedger) {
    Output(request->output, "ERROR: Could not obtain location of ArkLedger directory\r\n");
    return kNothingPlaced;
  }

  DWORD placed = 0;
  for (;; ++placed) {
    const std::string name = LogBaseName(logNumber + placed);
    const std::string* source = FindLog(logs, name);
    if (source == nullptr) break;
    const std::string destination = target.driveAndDirectory + ArchivedLogName(logNumber + placed);
    Output(request->output, "Copying archived log " + destination + "\r\n");
    const DWORD error = platform::CopyFile(*source, destination, true);
    if (error != ERROR_SUCCESS && error != ERROR_FILE_EXISTS) {
      // The log is not in place: say why and hand back what was placed so far.
      Output(request->output, "ERROR: Could not copy log file: " + *source + " to:\r\n" +
                                  destination + "\r\n" +
                                  platform::FormatMessage(error).substr(0, 1024) + "\r\n");
      break;
    }
  }
  return placed == 0 ? kNothingPlaced : 0;
}

}  // namespace ark
