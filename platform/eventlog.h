// The Windows event log: the source registration lives in the registry; an
// event goes to syslog and as one line to DIR/Logs/Application.log.
#pragma once

#include <string>
#include <vector>

#include "platform/win_types.h"

namespace platform {

// Returns true when the event was written.
bool ReportEvent(const std::string& source, WORD type, WORD category, DWORD eventId,
                 const std::vector<std::string>& strings);

}  // namespace platform
