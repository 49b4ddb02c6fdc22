// Host checks and file utilities shared by backup, snapshot and restore.
#pragma once

#include <cstdint>
#include <set>
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
// Makes the names of a file or directory just written durable: flushes the
// directory that holds path, the one above it and so on up to the drive's
// root (a level created on the way, now or by an earlier run, is durable
// only then). Directories already in `flushed` are passed over and those
// flushed are added, so that files written together share the flushes of
// their common directories. ERROR_SUCCESS, or the code of the first flush
// that failed with failedPath naming its directory.
DWORD FlushDirectoriesAbove(const std::string& path, std::set<std::string>& flushed,
                            std::string& failedPath);
std::string LocalTimeText();
std::string LocalTimeText(const SYSTEMTIME& time);

}  // namespace ark
