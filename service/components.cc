#include "service/components.h"

#include "domino/domino_api.h"
#include "dominosim/sim_api.h"
#include "snapshotsvc/configure.h"

namespace ark {

void InstallComponents() {
  // The Domino runtime this program links, the snapshot component's class
  // servers, then the commands of the long operations.
  SetDominoApi(&dominosim::Api());
  snapshotsvc::RegisterClassServers();
  RegisterOperationCommands();
}

}  // namespace ark
