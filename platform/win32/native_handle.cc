// Closing the handles of platform/native_handle.h.
#include "platform/win32/windows_api.h"

namespace platform::win32 {

int HandleTraits::Close(void* handle) { return ::CloseHandle(handle) ? 0 : static_cast<int>(::GetLastError()); }

int SocketTraits::Close(SOCKET s) { return ::closesocket(s) == 0 ? 0 : ::WSAGetLastError(); }

}  // namespace platform::win32
