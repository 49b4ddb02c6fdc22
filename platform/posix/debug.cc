// Debug trace: standard error when ARK_DEBUG is set, nowhere otherwise.
#include "platform/debug.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace platform {

void OutputDebugString(std::string_view text) {
  if (std::getenv("ARK_DEBUG") == nullptr) return;
  // One write per trace so that traces of several threads do not interleave.
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(STDERR_FILENO, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace platform
