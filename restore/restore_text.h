// Small text helpers of the restore engine (Windows paths and log names).
#pragma once

#include <cstdio>
#include <string>

#include "platform/win_types.h"

namespace restore_detail {

// "S%07d": the name of transaction log number n without its extension.
inline std::string LogBaseName(DWORD logNumber) {
  char name[32];
  std::snprintf(name, sizeof name, "S%07u", static_cast<unsigned>(logNumber));
  return name;
}

// The directory with a "\" appended unless it already ends in one.
inline std::string WithBackslash(std::string directory) {
  if (directory.empty() || directory.back() != '\\') directory += '\\';
  return directory;
}

}  // namespace restore_detail
