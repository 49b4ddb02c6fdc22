// One value line of a .reg file: "Name"="text", "Name"=dword:0000000a,
// "Name"=hex(2):41,00,00,00 (wrapped over lines ending in '\' as Windows
// writes long binary data), @="default".
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/hostroot/reg_document.h"

namespace platform::posix {

// True when the logical line (continuations joined) starts with a value
// name; fills entry.value.name, entry.known and the data of known types.
bool ParseValueLine(std::string_view line, RegEntry& entry);

// True when a value line holds binary data that goes on in the next line
// (it ends in a backslash); so does every following line that ends in one.
bool StartsWrappedBinaryValue(std::string_view line);

// The physical lines that hold a value, without line ends.
std::vector<std::string> FormatValueLines(const RegValue& value);

}  // namespace platform::posix
