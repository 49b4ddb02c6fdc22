// Copy, move and replacement on host paths, for the Windows-path calls of
// platform/files.h and for components that work on host paths directly.
// Results are Win32 codes.
#pragma once

#include <string>
#include <string_view>

#include "platform/win_types.h"

namespace platform::posix {

// Copies through a temporary file in the target's directory that gets the
// target's name only when complete (reflink, else copy_file_range, else
// read/write); keeps the permissions and the modification time.
// failIfExists: ERROR_FILE_EXISTS, decided atomically at the rename.
DWORD CopyHostFile(const std::string& from, const std::string& to, bool failIfExists);
// Renames without ever replacing (ERROR_ALREADY_EXISTS); a file crosses file
// systems by copy and delete.
DWORD MoveHostFile(const std::string& from, const std::string& to);

// Replaces the content of hostPath atomically (temporary file + rename),
// keeping the permissions of the file it replaces; durable also flushes the
// data (before the rename) and the directory entry (after it) to the disk,
// and a failed flush fails the call. winPath, when given, is the Windows
// path of the file: a FlushOverride answers both flushes under it and its
// directory. A read-only file or a directory is ERROR_ACCESS_DENIED, as on
// Windows.
DWORD ReplaceFileContent(const std::string& hostPath, std::string_view data, bool durable,
                         const std::string& winPath = {});

}  // namespace platform::posix
