// The service's entries in the Windows event log: the one source every part
// of the service reports under, its categories, and the identifiers of the
// message file's texts (service/win32/eventmsg.mc).
#pragma once

#include "platform/win_types.h"

namespace ark {

inline constexpr const char* kEventSourceName = "arksvc";

// Categories.
inline constexpr WORD kCategoryBackup = 1;
inline constexpr WORD kCategoryRestore = 2;
inline constexpr WORD kCategoryService = 3;

// Event identifiers.
inline constexpr DWORD kEventServiceStarted = 0x40000065;
inline constexpr DWORD kEventServiceStopped = 0x40000066;
inline constexpr DWORD kEventBackupFailed = 0x4000006C;  // the backup's snapshot was not taken
inline constexpr DWORD kEventRestoreFailed = 0x4000006D;
inline constexpr DWORD kEventRestoreSucceeded = 0x4000006F;
inline constexpr DWORD kEventReportNotSaved = 0x40000070;
inline constexpr DWORD kEventSnapshotCreated = 0x40000071;
inline constexpr DWORD kEventClientRefused = 0x40000072;
inline constexpr DWORD kEventSnapshotKept = 0x40000073;  // retention could not delete a snapshot
inline constexpr DWORD kEventRestoreInterrupted = 0x40000074;  // found at start: a restore died in the middle

}  // namespace ark
