#include "tests/support/os_calls.h"

#include <io.h>

#include <cstdio>

#include "platform/win32/windows_api.h"

void WriteStandardOutputDirectly(const std::string& text) {
  WinDWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<WinDWORD>(text.size()), &written, nullptr);
}

void CloseStandardOutput() {
  std::fflush(stdout);
  ::_close(1);
  ::SetStdHandle(STD_OUTPUT_HANDLE, nullptr);
}

void ShrinkSendBuffer(platform::SOCKET s) {
  int small = 4096;
  ::setsockopt(static_cast<::SOCKET>(static_cast<INT_PTR>(s)), SOL_SOCKET, SO_SNDBUF,
               reinterpret_cast<const char*>(&small), sizeof small);
}

void AbortConnection(platform::Socket& s) {
  const struct linger reset = {1, 0};
  ::setsockopt(static_cast<::SOCKET>(static_cast<INT_PTR>(s.get())), SOL_SOCKET, SO_LINGER,
               reinterpret_cast<const char*>(&reset), sizeof reset);
  s.reset();
}
