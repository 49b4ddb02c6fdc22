#include "platform/posix/hostroot/event_messages.h"

#include <cstdio>

namespace platform::posix {
namespace {

struct Message {
  DWORD id;
  const char* text;
};

constexpr Message kMessages[] = {
    {0x40000065, "The ARKServer service started."},
    {0x40000066, "The ARKServer service stopped."},
    {0x4000006C, "The backup of the Domino server %1 failed: %2"},
    {0x4000006D, "The %1 restore of snapshot %2 for the Domino server %3 failed: %4"},
    {0x4000006F, "The %1 restore of snapshot %2 for the Domino server %3 succeeded."},
    {0x40000070, "%1 %2"},
    {0x40000071, "Snapshot %1 was created on drive %2 for the Domino server %3."},
    {0x40000072, "A client at %1 is not in ALLOWED_CLIENTS; its connection was closed."},
    {0x40000073, "Snapshot %1 of the Domino server %2 on volume %3 could not be deleted; it and its "
                 "ArkLedger directory are kept."},
    {0x40000074, "%1 The active log files it kept across the revert are in %2. Run that restore again."},
};

std::string Insert(const char* text, const std::vector<std::string>& strings) {
  std::string out;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p != '%') {
      out += *p;
      continue;
    }
    if (p[1] == '%') {
      out += '%';
      ++p;
      continue;
    }
    if (p[1] < '1' || p[1] > '9') {
      out += '%';
      continue;
    }
    std::size_t n = static_cast<std::size_t>(p[1] - '0');
    const char* end = p + 2;
    if (*end >= '0' && *end <= '9') n = n * 10 + static_cast<std::size_t>(*end++ - '0');
    if (n <= strings.size()) {
      out += strings[n - 1];
    } else {
      out.append(p, end);  // no string for it: left as written
    }
    p = end - 1;
  }
  return out;
}

}  // namespace

std::string EventMessageText(DWORD eventId, const std::vector<std::string>& strings) {
  for (const Message& m : kMessages) {
    if (m.id == eventId) return Insert(m.text, strings);
  }
  char head[64];
  std::snprintf(head, sizeof head, "Event 0x%08X", static_cast<unsigned>(eventId));
  std::string out = head;
  for (std::size_t i = 0; i < strings.size(); ++i) out += (i == 0 ? ": " : "; ") + strings[i];
  return out;
}

std::string EventCategoryText(WORD category) {
  switch (category) {
    case 1: return "Backup";
    case 2: return "Restore";
    case 3: return "Service";
    default: return {};
  }
}

std::string EventTypeName(WORD type) {
  switch (type) {
    case 0: return "Success";
    case EVENTLOG_ERROR_TYPE: return "Error";
    case EVENTLOG_WARNING_TYPE: return "Warning";
    case EVENTLOG_INFORMATION_TYPE: return "Information";
    case 8: return "Audit Success";
    case 16: return "Audit Failure";
    default: return "Type " + std::to_string(type);
  }
}

}  // namespace platform::posix
