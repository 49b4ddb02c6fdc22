// Initialization files with GetPrivateProfileString/WritePrivateProfileString
// semantics: sections and keys compare without regard to case; a write keeps
// every other line and creates the file and the section when missing.
// Paths are Windows paths (mapped through the drive map).
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// Copies at most capacity-1 characters of the value (or of the default when
// absent) into out and returns the number of characters copied.
std::size_t GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, std::string& out,
                                    std::size_t capacity, const std::string& winFile);

// Returns true on success.
bool WritePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& winFile);

}  // namespace platform
