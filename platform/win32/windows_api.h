// The Windows headers for the files of platform/win32, included after the
// platform's own headers. The engine spells some Windows types itself
// (DWORD as a 32-bit unsigned, LONG, HRESULT, WCHAR, FILETIME, SYSTEMTIME);
// windows.h spells them differently, so its spellings are renamed while it is
// read: in these files DWORD, FILETIME... are the engine's, and the Windows
// ones are WinDWORD, WinFILETIME... Function names that windows.h turns into
// their ANSI or wide forms by macro, and that the platform interface uses
// for its own functions, are undefined afterwards: the Windows functions are
// called by their explicit names (CreateDirectoryA).
#pragma once

// Every platform header first: they declare constants (ERROR_SUCCESS,
// SERVICE_RUNNING...) that windows.h defines as macros.
#include "platform/clock.h"
#include "platform/com.h"
#include "platform/debug.h"
#include "platform/eventlog.h"
#include "platform/files.h"
#include "platform/host.h"
#include "platform/oplock.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/service.h"
#include "platform/socket.h"
#include "platform/stdout_capture.h"
#include "platform/text.h"
#include "platform/volume_freeze.h"
#include "platform/win_types.h"

#include <utility>

#define DWORD WinDWORD
#define LONG WinLONG
#define HRESULT WinHRESULT
#define WCHAR WinWCHAR
#define FILETIME WinFILETIME
#define _FILETIME _WinFILETIME
#define SYSTEMTIME WinSYSTEMTIME
#define _SYSTEMTIME _WinSYSTEMTIME

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <taskschd.h>

#undef DWORD
#undef LONG
#undef HRESULT
#undef WCHAR
#undef FILETIME
#undef _FILETIME
#undef SYSTEMTIME
#undef _SYSTEMTIME

#undef CopyFile
#undef CreateDirectory
#undef DeleteFile
#undef FormatMessage
#undef GetComputerName
#undef GetDiskFreeSpace
#undef GetFileAttributes
#undef GetModuleFileName
#undef GetPrivateProfileString
#undef GetWindowsDirectory
#undef MoveFile
#undef OutputDebugString
#undef RegCreateKey
#undef RegDeleteValue
#undef RegisterServiceCtrlHandler
#undef RemoveDirectory
#undef ReportEvent
#undef StartServiceCtrlDispatcher
#undef WritePrivateProfileString
#undef INVALID_SOCKET

namespace platform::win32 {

inline FILETIME FromWin(const WinFILETIME& ft) { return FILETIME{ft.dwLowDateTime, ft.dwHighDateTime}; }
inline WinFILETIME ToWin(const FILETIME& ft) { return WinFILETIME{ft.dwLowDateTime, ft.dwHighDateTime}; }

}  // namespace platform::win32
