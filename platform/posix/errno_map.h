// Translation of errno values into the Win32 error codes the engine speaks.
#pragma once

#include <string>

#include "platform/win_types.h"

namespace platform::posix {

// What an operation expected to find when the kernel answered EEXIST or
// ENOTDIR, because Windows reports those cases with different codes.
enum class PathRole {
  File,       // EEXIST → ERROR_FILE_EXISTS (80)
  Directory,  // EEXIST → ERROR_ALREADY_EXISTS (183)
};

// errno → Win32 code. hostPath is the path the failed call named: ENOENT
// becomes ERROR_FILE_NOT_FOUND when its parent directory exists, else
// ERROR_PATH_NOT_FOUND; ENOTDIR becomes ERROR_DIRECTORY when the path itself
// names a non-directory, else ERROR_PATH_NOT_FOUND.
DWORD Win32FromErrno(int err, const std::string& hostPath = {}, PathRole role = PathRole::File);

// Win32 codes beyond those declared in win_types.h that the layer reports.
constexpr DWORD ERROR_NOT_SAME_DEVICE = 17;
constexpr DWORD ERROR_FILE_TOO_LARGE = 223;

}  // namespace platform::posix
