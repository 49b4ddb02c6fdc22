// Lock files under DIR/locks, shared by the operation lock and the volume
// freeze: flock locks that the kernel releases when the holder dies.
#pragma once

#include <string>

namespace platform::posix {

// Opens (creating when missing) DIR/locks/<fileName>, close-on-exec; -1 on
// failure with errno set.
int OpenLockFile(const std::string& fileName);

}  // namespace platform::posix
