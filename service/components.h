// The parts of the process that come from elsewhere: the Domino runtime,
// the snapshot component and the commands of the long operations.
#pragma once

// Called once at start-up, before the service serves its first client.
void InstallComponents();
