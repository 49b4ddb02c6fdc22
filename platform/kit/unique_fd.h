// Owners of a file descriptor (kit::UniqueFd, see unique_handle.h) and of a
// POSIX directory stream, closed by the destructor.
#pragma once

#include <dirent.h>

#include <cerrno>

#include "platform/kit/unique_handle.h"

namespace platform::kit {

// A directory stream; closing it closes the descriptor it was opened on.
struct DirectoryStreamTraits {
  using Value = DIR*;
  static constexpr DIR* Invalid() { return nullptr; }
  static int Close(DIR* dir) { return ::closedir(dir) == 0 ? 0 : errno; }
};
using UniqueDir = UniqueHandle<DirectoryStreamTraits>;

}  // namespace platform::kit
