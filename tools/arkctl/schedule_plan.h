// What a scheduled backup is, independent of the scheduler that runs it:
// when it runs (--daily HH:MM, --hourly, --every N[h|m]), the name of its
// unit or task, and the arkctl backup command line it runs, so that a
// schedule carries any backup option as it is given.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/scheduler.h"

namespace ark {

// Every unit or task of ark's schedules is named so.
inline constexpr const char* kSchedulePrefix = "ark-backup-";

// The trigger of --daily HH:MM, --hourly or --every N[h|m] (exactly one
// given, the others empty or false). False with *error saying why: an
// interval must divide an hour or a day into whole runs, so that runs fall
// on the same clock times every day.
bool ParseTrigger(const std::string& daily, bool hourly, const std::string& every, platform::TaskTrigger* trigger,
                  std::string* error);

// "daily at 02:00", "every hour", "every 15 minutes", "every 6 hours".
std::string TriggerText(const platform::TaskTrigger& trigger);

// ark-backup-<server's short name in lower case>, each character other than
// a letter, digit, '-', '_' or '.' written '_'; a name that already begins
// with the prefix is an ID, the rest of it written so too (lower case, '_').
std::string ScheduleId(const std::string& serverOrId);

struct ScheduledBackup {
  std::string server;
  std::string host;
  std::uint16_t port = 0;
  std::string waitLock;  // how long a run waits for the operation lock
  std::string keep;      // "" for no retention
  bool verify = false;
  std::vector<std::string> extra;  // further backup options, as given
};

// The arkctl command line that the scheduler runs: program, then
// --host H --port N backup SERVER --scheduled --wait-lock D [--keep N]
// [--verify] and the extra options.
std::vector<std::string> ScheduledCommand(const std::string& program, const ScheduledBackup& backup);

}  // namespace ark
