#include "platform/shared/profile_text.h"

namespace platform::shared {

std::string_view TrimProfileText(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool ProfileEntryWritable(const std::string& section, const std::string& key, const std::string& value) {
  for (const std::string* s : {&section, &key, &value}) {
    if (s->find_first_of("\r\n") != std::string::npos) return false;
  }
  return !TrimProfileText(key).empty() && key.find('=') == std::string::npos && !TrimProfileText(section).empty() &&
         section.find(']') == std::string::npos;
}

}  // namespace platform::shared
