// Debug trace: to standard error when ARK_DEBUG is set, nowhere otherwise.
#pragma once

#include <string_view>

namespace platform {

void OutputDebugString(std::string_view text);

}  // namespace platform
