#include "tools/arkctl/command_group.h"

#include <map>
#include <string>

namespace {

std::map<std::string, CommandGroupSetup>& Groups() {
  static std::map<std::string, CommandGroupSetup> groups;
  return groups;
}

}  // namespace

bool AddCommandGroup(const char* name, CommandGroupSetup setup) {
  Groups()[name] = setup;
  return true;
}

void SetUpCommandGroups(CLI::App& app, CtlContext& context) {
  for (const auto& [name, setup] : Groups()) setup(app, context);
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buffer[8];
          std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
          out += buffer;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}
