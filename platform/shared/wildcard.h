// Names matched against a FindFirstFile pattern, shared by both
// implementations so that every system matches alike (Windows itself also
// matches short 8.3 names, and Wine matches "*." differently).
#pragma once

#include <string_view>

namespace platform::shared {

// "*" any run of characters, "?" any one, letter case ignored; "*" and "*.*"
// match everything (names without a dot too), "name.*" also matches "name",
// "*." matches names without a dot.
bool WildcardMatch(std::string_view pattern, std::string_view name);

}  // namespace platform::shared
