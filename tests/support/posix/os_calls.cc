#include "tests/support/os_calls.h"

#include <sys/socket.h>
#include <unistd.h>

void WriteStandardOutputDirectly(const std::string& text) {
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t n = ::write(STDOUT_FILENO, text.data() + done, text.size() - done);
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

void CloseStandardOutput() { ::close(STDOUT_FILENO); }

void ShrinkSendBuffer(platform::SOCKET s) {
  int small = 4096;
  ::setsockopt(s, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
}

void AbortConnection(platform::Socket& s) {
  const struct linger reset = {1, 0};
  ::setsockopt(s.get(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  s.reset();
}
