// The rules of profile files (.ini) that both implementations apply alike.
#pragma once

#include <string>
#include <string_view>

namespace platform::shared {

// Blanks and tabs off both ends, as a profile file's names and values are
// read.
std::string_view TrimProfileText(std::string_view s);

// Whether an entry can be written as it is: no line end in any of the three
// (it would make the file say something else), a key that is not blank and
// holds no '=', a section name that is not blank and holds no ']'.
bool ProfileEntryWritable(const std::string& section, const std::string& key, const std::string& value);

}  // namespace platform::shared
