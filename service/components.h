// The parts of the process that come from elsewhere: the Domino runtime,
// the snapshot component and the commands of the long operations.
#pragma once

namespace ark {

// Called once at start-up, before the service serves its first client:
// makes the simulated runtime the Domino API, registers the snapshot
// component's class servers, and registers the commands of discovery, backup,
// restore and verification. Never fails.
void InstallComponents();

// Registers the commands of the long operations (discovery, backup, restore,
// single-database restore, verification) with the command session; the one
// list of them, which both platforms' InstallComponents call.
void RegisterOperationCommands();

}  // namespace ark
