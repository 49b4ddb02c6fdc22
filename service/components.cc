#include "service/components.h"

void InstallComponents() {
  // Installs, in this order, the Domino API runtime, the snapshot
  // component's class servers, and the command handlers of discovery,
  // backup, restore and verification (RegisterCommand). Until they are
  // installed, their command codes are answered as unknown.
}
