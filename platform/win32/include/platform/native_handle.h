// The operating system's handles as the platform classes hold them: on
// Windows a file, a lock or a pipe end is a HANDLE, a socket is Winsock's
// SOCKET (a pointer-sized unsigned value). CMake puts platform/posix/include
// or platform/win32/include on the include path, so
// "platform/native_handle.h" is the header of the platform built.
#pragma once

#include <cstdint>

#include "platform/kit/unique_handle.h"

namespace platform {

using SOCKET = std::uintptr_t;
constexpr SOCKET INVALID_SOCKET = ~SOCKET(0);

namespace win32 {

// Close: 0, or the Win32 code of the failure (platform/win32/native_handle.cc).
struct HandleTraits {
  using Value = void*;
  static Value Invalid() { return reinterpret_cast<void*>(~std::uintptr_t(0)); }  // INVALID_HANDLE_VALUE
  static int Close(void* handle);
};
struct SocketTraits {
  using Value = SOCKET;
  static constexpr Value Invalid() { return INVALID_SOCKET; }
  static int Close(SOCKET s);
};

}  // namespace win32

using NativeFile = kit::UniqueHandle<win32::HandleTraits>;
using NativeSocket = kit::UniqueHandle<win32::SocketTraits>;

}  // namespace platform
