// What the Windows calls report about a host file: attributes and times.
#pragma once

#include <sys/stat.h>

#include "platform/win_types.h"

namespace platform::posix {

inline FILETIME FileTimeFromTimespec(const struct timespec& ts) {
  constexpr std::int64_t kSecondsFrom1601To1970 = 11'644'473'600;
  const std::int64_t seconds = static_cast<std::int64_t>(ts.tv_sec) + kSecondsFrom1601To1970;
  if (seconds < 0) return FILETIME{};
  return U64ToFileTime(static_cast<std::uint64_t>(seconds) * 10'000'000 +
                       static_cast<std::uint64_t>(ts.tv_nsec) / 100);
}

// Directory, read-only (no write permission for anyone) or normal.
inline DWORD AttributesFromStat(const struct stat& st) {
  DWORD attributes = 0;
  if (S_ISDIR(st.st_mode)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
  if ((st.st_mode & 0222) == 0) attributes |= FILE_ATTRIBUTE_READONLY;
  return attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
}

}  // namespace platform::posix
