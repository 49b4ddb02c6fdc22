// The host root: every process of the port works under one directory that
// stands for the Windows machine (registry.reg, Windows\, drive map).
#pragma once

#include <string>
#include <string_view>

#include "platform/win_types.h"

namespace platform {

// Sets the host root (from --root DIR). When never set, HostRoot() takes the
// environment variable ARK_ROOT, else the current directory.
void SetHostRoot(const std::string& dir);
const std::string& HostRoot();

// Translates a Windows path ("D:\Domino\Data\x.nsf") to the host path through
// the drive map (HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\DOS
// Devices, values "D:"="/srv/ark/volumes/D"). The drive C: maps to the host
// root itself unless the map names it, so C:\Windows is DIR/Windows.
// Both separators are accepted; "." and ".." components are refused.
// Returns ERROR_SUCCESS, or ERROR_PATH_NOT_FOUND for an unmapped drive or a
// path without a drive, ERROR_INVALID_NAME for an unsafe path.
DWORD ToHostPath(std::string_view winPath, std::string& hostPath);

// The host directory a drive letter maps to; empty when unmapped.
std::string DriveHostDirectory(char driveLetter);

// The reverse of ToHostPath: the Windows path ("C:\volumes\x") under which
// the drive map reaches a host path, through the drive whose directory holds
// it most closely (C: being the host root unless the map names it). Returns
// ERROR_SUCCESS, ERROR_PATH_NOT_FOUND when no drive holds the path, or
// ERROR_INVALID_NAME when a name in it could not stand in a Windows path.
// On Windows a host path is a Windows path: it is checked as ToHostPath
// checks it and given with backslashes.
DWORD ToWindowsPath(std::string_view hostPath, std::string& winPath);

// "C:\Windows" (the Windows directory as the platform reports it).
std::string GetWindowsDirectory();

// The executable's own path, as a Windows path whose directory maps to the
// directory of the running executable when that lies under a mapped drive or
// the host root, else "C:\Program Files\ark\" + file name.
std::string GetModuleFileName();

// The computer name: ComputerName under
// HKLM\SYSTEM\CurrentControlSet\Control\ComputerName\ComputerName when set,
// else the host name.
std::string GetComputerName();

}  // namespace platform
