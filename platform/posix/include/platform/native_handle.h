// The operating system's handles as the platform classes hold them: on
// POSIX every one (a file, a lock, a pipe end, a socket) is a descriptor.
// CMake puts platform/posix/include or platform/win32/include on the include
// path, so "platform/native_handle.h" is the header of the platform built.
#pragma once

#include "platform/kit/unique_handle.h"

namespace platform {

using SOCKET = int;
constexpr SOCKET INVALID_SOCKET = -1;

using NativeFile = kit::UniqueFd;
using NativeSocket = kit::UniqueFd;

}  // namespace platform
