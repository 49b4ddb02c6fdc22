// arkctl's commands come in groups, one source file each. A group adds its
// subcommands to the application from a setup function and registers that
// function with ARKCTL_COMMAND_GROUP(name, setup) in its own file; main
// needs no change when a group is added.
#pragma once

#include <CLI/CLI.hpp>

#include "tools/arkctl/ctl_context.h"

namespace ark {

using CommandGroupSetup = void (*)(CLI::App& app, CtlContext& context);

// Registers setup under name (a later one of the same name replaces it);
// always true, so that it can initialise a static.
bool AddCommandGroup(const char* name, CommandGroupSetup setup);
// Calls every registered setup, in the order of the group names.
void SetUpCommandGroups(CLI::App& app, CtlContext& context);

#define ARKCTL_COMMAND_GROUP(name, setup) \
  [[maybe_unused]] static const bool arkctl_group_registered_##name = AddCommandGroup(#name, setup)

}  // namespace ark
