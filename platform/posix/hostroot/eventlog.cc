// The event log: syslog under the source's name, and one line per event in
// DIR/Logs/Application.log:
//   2027-01-09 07:05:03 Information category 3 event 0x40000065 arksvc: The ARKServer service started.
#include "platform/eventlog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "platform/host.h"
#include "platform/posix/hostroot/event_messages.h"
#include "platform/kit/unique_fd.h"
#include "platform/shared/event_observer.h"

namespace platform {
namespace {

std::mutex g_syslogMutex;

// Line ends inside the text become " | " so that an event stays one line.
std::string OneLine(std::string text) {
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out += " | ";
    } else {
      out += text[i];
    }
  }
  return out;
}

int SyslogPriority(WORD type) {
  switch (type) {
    case EVENTLOG_ERROR_TYPE: return LOG_ERR;
    case EVENTLOG_WARNING_TYPE: return LOG_WARNING;
    default: return LOG_INFO;
  }
}

void WriteSyslog(const std::string& source, WORD type, const std::string& line) {
  std::lock_guard<std::mutex> lock(g_syslogMutex);
  // openlog keeps the pointer: the name must outlive the call.
  static std::string ident;
  ident = source;
  ::openlog(ident.c_str(), LOG_PID, LOG_DAEMON);
  ::syslog(SyslogPriority(type), "%s", line.c_str());
  ::closelog();
}

bool AppendLine(const std::string& line) {
  const std::string dir = HostRoot() + "/Logs";
  if (::mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) return false;
  const std::string path = dir + "/Application.log";
  kit::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666));
  if (!fd.valid()) return false;
  // One write per line: lines of concurrent writers do not interleave.
  const ssize_t n = ::write(fd.get(), line.data(), line.size());
  return n == static_cast<ssize_t>(line.size());
}

}  // namespace

bool ReportEvent(const std::string& source, WORD type, WORD category, DWORD eventId,
                 const std::vector<std::string>& strings) {
  shared::NotifyEventObserver(EventRecord{source, type, category, eventId, strings});
  const std::string text = OneLine(posix::EventMessageText(eventId, strings));
  char head[96];
  std::snprintf(head, sizeof head, "category %u event 0x%08X ", static_cast<unsigned>(category),
                static_cast<unsigned>(eventId));
  const std::string event = posix::EventTypeName(type) + " " + head + source + ": " + text;
  WriteSyslog(source, type, event);

  const std::time_t now = std::time(nullptr);
  struct tm tm {};
  localtime_r(&now, &tm);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S ", &tm);
  return AppendLine(stamp + event + "\n");
}

std::string EventMessageText(const std::string&, DWORD eventId, const std::vector<std::string>& strings) {
  return posix::EventMessageText(eventId, strings);
}

std::string EventCategoryText(const std::string&, WORD category) { return posix::EventCategoryText(category); }

}  // namespace platform
