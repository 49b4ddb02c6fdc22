// The runtime's call-back for archived logs during recovery, and the
// process-wide restore request through which it prints and finds the server.
#pragma once

#include "common/records.h"
#include "domino/domino_api.h"

namespace ark {

// Copies the archived logs from logNumber on (as long as the server's
// ArkLedger directory holds them, one after another) into the folder named by
// path's drive and directory; a log already there counts as placed. 0 when at
// least one log was placed, else 0xFFFF (also without a current request).
// Writes "First archive needed is: ..." and a line per copy through the
// current request's output, and the reason when the ArkLedger directory is
// unknown or a copy fails (the copy then stops). The copies stay in that
// folder: nothing records them for removal.
STATUS ArchivedLogCallback(void* unused, DWORD logNumber, const char* path);

// The request of the running restore (none: nullptr). Process-wide; setting
// it neither copies nor owns the request.
RestoreRequest* CurrentRestoreRequest();
void SetCurrentRestoreRequest(RestoreRequest* request);

// Makes a request the current one for its lifetime and puts the earlier one
// back afterwards, so the pointer never outlives the request.
class CurrentRestoreScope {
 public:
  explicit CurrentRestoreScope(RestoreRequest& request) : previous_(CurrentRestoreRequest()) {
    SetCurrentRestoreRequest(&request);
  }
  ~CurrentRestoreScope() { SetCurrentRestoreRequest(previous_); }
  CurrentRestoreScope(const CurrentRestoreScope&) = delete;
  CurrentRestoreScope& operator=(const CurrentRestoreScope&) = delete;

 private:
  RestoreRequest* previous_;
};

}  // namespace ark
