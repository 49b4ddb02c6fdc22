// Long operations (backup, restore, verification) whose running text
// streams to the client while they run.
#pragma once

#include <functional>
#include <string>

#include "platform/socket.h"

namespace ark {

// Raised when the client went away while an operation streamed to it.
inline constexpr const char* kClientWentAway = "client went away during the operation";

// The caller has sent reply byte 1 and read its request. This empties the
// report text, makes client the streaming connection, runs operation, sends
// "done" (unless sending to the client failed meanwhile), clears the
// streaming connection, saves the report text as a report of reportTypeName
// ("Backup", "Restore", ...) and empties the report text. The operation
// always runs to its end, even when the client goes away, and its report is
// saved; the session then ends: a WireError(kClientWentAway) is raised. An
// error raised by the operation is raised again after the report is saved
// (no "done" is sent then). On every way out the streaming connection and the
// report text are cleared; the client connection stays open for the caller.
void RunStreamingOperation(platform::SOCKET client, const std::string& reportTypeName,
                           const std::function<void()>& operation);

}  // namespace ark
