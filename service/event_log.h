// The service's event-log entries and debug trace, used by every operation
// that reports an outcome.
#pragma once

#include <string>
#include <vector>

#include "platform/win_types.h"

inline constexpr const char* kServiceName = "ARKServer";
inline constexpr const char* kEventSourceName = "arksvc";

// Event categories.
inline constexpr WORD kCategoryBackup = 1;
inline constexpr WORD kCategoryRestore = 2;
inline constexpr WORD kCategoryService = 3;

// Event identifiers.
inline constexpr DWORD kEventServiceStarted = 0x40000065;
inline constexpr DWORD kEventServiceStopped = 0x40000066;
inline constexpr DWORD kEventBackupError = 0x4000006C;
inline constexpr DWORD kEventRestoreError = 0x4000006D;
inline constexpr DWORD kEventRestoreInfo = 0x4000006F;
inline constexpr DWORD kEventBackupInfo = 0x40000071;

// Writes one entry under the source "arksvc"; 0 on success, -1 on failure.
int ReportEvent(WORD type, WORD category, DWORD eventId, const std::vector<std::string>& strings);
int ReportEvent(WORD type, WORD category, DWORD eventId);

// "(ARKServer) " + text + "\n" to the debug trace; never fails.
void DebugTrace(const std::string& text);

// what + " error: " + code in decimal.
std::string FormatLastError(const std::string& what, DWORD code);
