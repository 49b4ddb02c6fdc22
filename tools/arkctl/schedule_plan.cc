#include "tools/arkctl/schedule_plan.h"

#include <cctype>
#include <cstdio>

namespace ark {

namespace {

// A whole number of at most six digits; -1 for anything else.
long SmallNumber(const std::string& text) {
  if (text.empty() || text.size() > 6) return -1;
  for (char c : text)
    if (!std::isdigit(static_cast<unsigned char>(c))) return -1;
  return std::stol(text);
}

}  // namespace

bool ParseTrigger(const std::string& daily, bool hourly, const std::string& every, platform::TaskTrigger* trigger,
                  std::string* error) {
  if (int(!daily.empty()) + int(hourly) + int(!every.empty()) != 1) {
    *error = "give exactly one of --daily HH:MM, --hourly and --every N[h|m]";
    return false;
  }
  if (hourly) {
    *trigger = {60, 0, 0};
    return true;
  }
  if (!daily.empty()) {
    const std::size_t colon = daily.find(':');
    const long hour = colon == std::string::npos ? -1 : SmallNumber(daily.substr(0, colon));
    const long minute = colon == std::string::npos ? -1 : SmallNumber(daily.substr(colon + 1));
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || daily.size() - colon != 3) {
      *error = "--daily takes a time of day as HH:MM (00:00 to 23:59), not " + daily;
      return false;
    }
    *trigger = {1440, int(hour), int(minute)};
    return true;
  }
  const char unit = every.back();
  const long n = unit == 'h' || unit == 'm' ? SmallNumber(every.substr(0, every.size() - 1)) : -1;
  const long minutes = unit == 'h' ? n * 60 : n;
  const bool divides = n > 0 && (minutes < 60 ? 60 % minutes == 0 : minutes % 60 == 0 && 1440 % minutes == 0);
  if (!divides) {
    *error = "--every takes N minutes that divide an hour (Nm: 1, 2, 3, 4, 5, 6, 10, 12, 15, 20, 30) or N hours "
             "that divide a day (Nh: 1, 2, 3, 4, 6, 8, 12, 24), not " + every;
    return false;
  }
  *trigger = {int(minutes), 0, 0};
  return true;
}

std::string TriggerText(const platform::TaskTrigger& trigger) {
  char text[64];
  if (trigger.intervalMinutes >= 1440)
    std::snprintf(text, sizeof text, "daily at %02d:%02d", trigger.hour, trigger.minute);
  else if (trigger.intervalMinutes == 60)
    std::snprintf(text, sizeof text, "every hour");
  else if (trigger.intervalMinutes == 1)
    std::snprintf(text, sizeof text, "every minute");
  else if (trigger.intervalMinutes % 60 == 0)
    std::snprintf(text, sizeof text, "every %d hours", trigger.intervalMinutes / 60);
  else
    std::snprintf(text, sizeof text, "every %d minutes", trigger.intervalMinutes);
  return text;
}

std::string ScheduleId(const std::string& serverOrId) {
  // An ID given is written as a short name is: it names files and tasks, so
  // a blank or a separator in it must not reach them.
  const std::size_t prefix = std::char_traits<char>::length(kSchedulePrefix);
  const std::string name = serverOrId.rfind(kSchedulePrefix, 0) == 0 ? serverOrId.substr(prefix)
                                                                       : serverOrId.substr(0, serverOrId.find('/'));
  std::string id = kSchedulePrefix;
  for (char c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    id += std::isalnum(u) || c == '-' || c == '_' || c == '.' ? char(std::tolower(u)) : '_';
  }
  return id;
}

std::vector<std::string> ScheduledCommand(const std::string& program, const ScheduledBackup& backup) {
  std::vector<std::string> command = {program,          "--host",    backup.host, "--port", std::to_string(backup.port),
                                      "backup",         backup.server, "--scheduled", "--wait-lock", backup.waitLock};
  if (!backup.keep.empty()) command.insert(command.end(), {"--keep", backup.keep});
  if (backup.verify) command.push_back("--verify");
  command.insert(command.end(), backup.extra.begin(), backup.extra.end());
  return command;
}

}  // namespace ark
