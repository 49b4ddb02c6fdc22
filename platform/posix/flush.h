// Flushing files and directories to the disk, with the test seam of
// platform::FlushOverride.
#pragma once

#include <string>

#include "platform/win_types.h"

namespace platform::posix {

// fsync of an open file or directory as a Win32 code; a directory whose
// file system cannot flush one (EINVAL) counts as flushed.
DWORD SyncDescriptor(int fd);

// fsync of the directory at hostPath (see SyncDescriptor).
DWORD SyncHostDirectory(const std::string& hostPath);

}  // namespace platform::posix
