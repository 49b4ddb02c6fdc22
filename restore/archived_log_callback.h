// The runtime's call-back for archived logs during recovery, and the
// process-wide restore request through which it prints and finds the server.
#pragma once

#include "common/records.h"
#include "domino/domino_api.h"

// Copies the archived logs from logNumber on (as long as the server's
// ArkLedger directory holds them, one after another) into the folder named by
// path's drive and directory. 0 when at least one log was placed, else 0xFFFF.
STATUS ArchivedLogCallback(void* unused, DWORD logNumber, const char* path);

// The request of the running restore (none: nullptr).
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
