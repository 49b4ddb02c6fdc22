// Debug trace: OutputDebugStringA, for a debugger or a trace viewer.
#include "platform/win32/windows_api.h"

namespace platform {

void OutputDebugString(std::string_view text) { ::OutputDebugStringA(std::string(text).c_str()); }

}  // namespace platform
