// The time-out of every single socket read and write with a client: a peer
// that stays silent (or stops reading) this long loses the conversation.
#pragma once

namespace ark {

inline constexpr int kDefaultIoTimeoutSeconds = 45;

// Process-wide; set once at start-up (arkserver --io-timeout) or by tests.
// A negative time counts as 0 (a call that is not ready at once times out).
void SetIoTimeoutSeconds(int seconds);
void SetIoTimeoutMilliseconds(long milliseconds);
// The time-out in force, 45 seconds unless set.
long IoTimeoutMilliseconds();

}  // namespace ark
