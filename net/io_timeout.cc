#include "net/io_timeout.h"

#include <atomic>

namespace ark {

namespace {
std::atomic<long> g_timeoutMilliseconds{kDefaultIoTimeoutSeconds * 1000L};
}

void SetIoTimeoutSeconds(int seconds) { SetIoTimeoutMilliseconds(seconds * 1000L); }

void SetIoTimeoutMilliseconds(long milliseconds) {
  g_timeoutMilliseconds.store(milliseconds < 0 ? 0 : milliseconds);
}

long IoTimeoutMilliseconds() { return g_timeoutMilliseconds.load(); }

}  // namespace ark
