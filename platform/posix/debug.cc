// Debug trace: standard error when ARK_DEBUG is set, nowhere otherwise.
#include "platform/debug.h"

#include <unistd.h>

#include <cstdlib>

#include "platform/kit/file_io.h"

namespace platform {

void OutputDebugString(std::string_view text) {
  if (std::getenv("ARK_DEBUG") == nullptr) return;
  // One write per trace so that traces of several threads do not interleave.
  (void)kit::WriteAll(STDERR_FILENO, text.data(), text.size());
}

}  // namespace platform
