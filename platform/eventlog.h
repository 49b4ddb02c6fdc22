// The Windows event log. On POSIX the source registration lives in the
// registry of the host root and an event goes to syslog and as one line to
// DIR/Logs/Application.log; on Windows it is the system's event log.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/win_types.h"

namespace platform {

// Returns true when the event was written.
bool ReportEvent(const std::string& source, WORD type, WORD category, DWORD eventId,
                 const std::vector<std::string>& strings);

// The texts an event viewer shows for the source's events and categories,
// from the message file the source is registered with (on POSIX a table
// compiled into the program); empty when there is none.
std::string EventMessageText(const std::string& source, DWORD eventId, const std::vector<std::string>& strings);
std::string EventCategoryText(const std::string& source, WORD category);

// For tests, where no event log can be read back (Wine stores nothing):
// while an observer is set, every event reported is also handed to it.
struct EventRecord {
  std::string source;
  WORD type = 0;
  WORD category = 0;
  DWORD eventId = 0;
  std::vector<std::string> strings;
};
using EventObserver = std::function<void(const EventRecord&)>;
void SetEventObserver(EventObserver observer);  // an empty function removes it

}  // namespace platform
