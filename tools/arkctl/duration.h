// Durations on arkctl's command lines: --max-age, --wait-lock.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace ark {

// Seconds from "26h", "90m", "30s", "2d" (a bare number is seconds); nullopt
// when the text is not a duration.
std::optional<std::int64_t> ParseDuration(const std::string& text);

}  // namespace ark
