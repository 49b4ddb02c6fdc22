// Operating-system errors in the component's own vocabulary: Win32 codes and
// the HRESULTs built from them.
#pragma once

#include "platform/win_types.h"

namespace snapshotsvc {

constexpr DWORD ERROR_GEN_FAILURE = 31;
constexpr DWORD ERROR_NOT_SAME_DEVICE = 17;
constexpr DWORD ERROR_WRITE_PROTECT = 19;

DWORD Win32FromErrno(int err);
inline HRESULT HresultFromErrno(int err) { return HRESULT_FROM_WIN32(Win32FromErrno(err)); }

}  // namespace snapshotsvc
