// Letter-case-blind name lookups of the drive map (host.cc): a name this
// process creates through the platform is noted, so that the next lookup
// in the same directory does not list that directory again.
#pragma once

#include <string>

namespace platform::posix {

void NoteCreatedName(const std::string& hostPath);

}  // namespace platform::posix
