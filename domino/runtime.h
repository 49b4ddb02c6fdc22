// Starting the Domino API runtime for a server's notes.ini, and the readers
// that need the runtime.
#pragma once

#include <string>

#include "domino/domino_api.h"

namespace ark {

// Starts the runtime for the notes.ini at notesIniPath (the default one when
// empty); a first start that succeeds is ended and the runtime started again.
// Returns the last start's status; after NOERROR the caller ends the runtime
// with TermRuntime.
STATUS StartDominoRuntime(const std::string& notesIniPath);

// Ends the Domino API runtime (TermRuntime) when it goes out of scope: made
// right after StartDominoRuntime succeeded, it ends the runtime on every way
// out of the run that started it, an exception included.
class RuntimeGuard {
 public:
  RuntimeGuard() = default;
  ~RuntimeGuard();
  RuntimeGuard(const RuntimeGuard&) = delete;
  RuntimeGuard& operator=(const RuntimeGuard&) = delete;
};
// The running runtime's server name, abbreviated when the runtime can.
void ReadServerName(std::string& out);
// The server's logging style, or the status of a failed read.
STATUS ReadLoggingStyle();

}  // namespace ark
