// Host checks and file utilities shared by backup, snapshot and restore.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win_types.h"

namespace ark {

bool IsDominoRunning();  // a process named nserver or nlnotes runs
// Free space of the drive in MiB; false when it cannot be determined
// (unmapped drive, failed query).
bool GetFreeDiskMegabytes(const std::string& driveLetter, std::uint32_t& megabytes);
int DirectoryExists(const std::string& path);       // 0 exists, 1 not, -1 empty path
int CreateDirectoryTree(const std::string& path);   // 1 all levels exist, 0 failed, -1 empty
int DeleteDirectoryTree(const std::string& path);   // 0 deleted, else error code, -1 empty
bool CreateDominoDirectory(const std::string& name);  // false: created or already there
bool CopyOneFile(const std::string& from, const std::string& to, bool failIfExists);  // true: copied
std::string LocalTimeText();
std::string LocalTimeText(const SYSTEMTIME& time);

}  // namespace ark
