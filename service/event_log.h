// The service's event-log entries and debug trace, used by every operation
// that reports an outcome.
#pragma once

#include <string>
#include <vector>

#include "common/events.h"
#include "platform/win_types.h"

namespace ark {

inline constexpr const char* kServiceName = "ARKServer";

// Writes one entry under the source kEventSourceName; 0 on success, -1 on failure.
int ReportEvent(WORD type, WORD category, DWORD eventId, const std::vector<std::string>& strings);
int ReportEvent(WORD type, WORD category, DWORD eventId);

// "(ARKServer) " + text + "\n" to the debug trace; never fails.
void DebugTrace(const std::string& text);

// what + " error: " + code in decimal.
std::string FormatLastError(const std::string& what, DWORD code);

}  // namespace ark
