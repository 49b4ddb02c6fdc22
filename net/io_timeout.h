// The time-out of every single socket read and write with a client: a peer
// that stays silent (or stops reading) this long loses the conversation.
#pragma once

inline constexpr int kDefaultIoTimeoutSeconds = 45;

// Process-wide; set once at start-up (arkserver --io-timeout) or by tests.
void SetIoTimeoutSeconds(int seconds);
void SetIoTimeoutMilliseconds(long milliseconds);
long IoTimeoutMilliseconds();
