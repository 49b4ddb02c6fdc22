#include "tools/arkctl/command_group.h"

#include <map>
#include <string>

namespace ark {

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

}  // namespace ark
