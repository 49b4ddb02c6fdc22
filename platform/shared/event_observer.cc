#include "platform/shared/event_observer.h"

#include <mutex>

namespace platform {
namespace {

std::mutex g_mutex;
EventObserver g_observer;

}  // namespace

void SetEventObserver(EventObserver observer) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_observer = std::move(observer);
}

namespace shared {

void NotifyEventObserver(const EventRecord& event) {
  EventObserver observer;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    observer = g_observer;
  }
  if (observer) observer(event);
}

}  // namespace shared
}  // namespace platform
