// Translation of errno values into the Win32 error codes and HRESULTs the
// engine speaks: one table for the platform layer and the components.
#pragma once

#include <string>

#include "platform/win_types.h"

namespace platform::kit {

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
// EROFS is ERROR_WRITE_PROTECT, as Windows reports a write-protected volume.
DWORD Win32FromErrno(int err, const std::string& hostPath = {}, PathRole role = PathRole::File);

// The HRESULT of a failed call whose reason is err (HRESULT_FROM_WIN32 of the
// code above); a failure that left no errno (0) is still a failure:
// ERROR_GEN_FAILURE.
HRESULT HresultFromErrno(int err, PathRole role = PathRole::File);
// For a call that returns an errno value: S_OK for 0, else HresultFromErrno.
inline HRESULT HresultFromResult(int result, PathRole role = PathRole::File) {
  return result == 0 ? S_OK : HresultFromErrno(result, role);
}

// Win32 codes beyond those declared in win_types.h that the table gives.
constexpr DWORD ERROR_NOT_SAME_DEVICE = 17;
constexpr DWORD ERROR_WRITE_PROTECT = 19;
constexpr DWORD ERROR_GEN_FAILURE = 31;
constexpr DWORD ERROR_FILE_TOO_LARGE = 223;

}  // namespace platform::kit
