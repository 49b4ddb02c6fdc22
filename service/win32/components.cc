// The parts of the Windows process that come from elsewhere.
//
// The Domino API of a Windows host is the server's own nnotes.dll, loaded by
// its full path in the Domino program directory at the first runtime start
// and bound by ordinal (domino/nnotes_binding.h): a library that cannot be
// loaded fails that runtime start with a message naming the file or the
// ordinal, and the service itself runs and answers. The snapshot component
// is reached through the system's COM; the adapters of the snapshot and disk
// classes turn its binary objects into the engine's interfaces.
#include "service/components.h"

#include "domino/nnotes_binding.h"
#include "service/event_log.h"
#include "snapshot/native_interfaces.h"

namespace ark {

void InstallComponents() {
  static NnotesApi nnotes;
  SetDominoApi(&nnotes);
  snapshot::native::RegisterNativeAdapters();
  RegisterOperationCommands();
}

}  // namespace ark
