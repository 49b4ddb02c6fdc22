// The test observer of platform/eventlog.h, shared by both implementations.
#pragma once

#include "platform/eventlog.h"

namespace platform::shared {

// Hands the event to the observer when one is set.
void NotifyEventObserver(const EventRecord& event);

}  // namespace platform::shared
