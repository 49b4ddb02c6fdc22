// The COM task allocator of the system.
#include "platform/win32/windows_api.h"

namespace platform {

void* CoTaskMemAlloc(std::size_t bytes) { return ::CoTaskMemAlloc(bytes); }

void CoTaskMemFree(void* memory) { ::CoTaskMemFree(memory); }

}  // namespace platform
