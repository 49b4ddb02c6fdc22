#include "service/event_log.h"

#include "platform/debug.h"
#include "platform/eventlog.h"

namespace ark {

int ReportEvent(WORD type, WORD category, DWORD eventId, const std::vector<std::string>& strings) {
  return platform::ReportEvent(kEventSourceName, type, category, eventId, strings) ? 0 : -1;
}

int ReportEvent(WORD type, WORD category, DWORD eventId) {
  return ReportEvent(type, category, eventId, {});
}

void DebugTrace(const std::string& text) {
  platform::OutputDebugString("(ARKServer) " + text + "\n");
}

std::string FormatLastError(const std::string& what, DWORD code) {
  return what + " error: " + std::to_string(code);
}

}  // namespace ark
