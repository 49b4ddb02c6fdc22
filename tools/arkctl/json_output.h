// arkctl's --json answers: built as JSON values, printed on one line.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace ark {

// Members keep the order in which they are set.
using Json = nlohmann::ordered_json;

// The value on one line, with ", " between items and ": " after member
// names, as arkctl has always printed it. Text that is not valid UTF-8 (the
// ANSI code page) gets U+FFFD in place of its bad bytes. Never raises for
// text.
std::string JsonLine(const Json& value);

}  // namespace ark
