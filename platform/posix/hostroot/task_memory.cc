// The COM task allocator on POSIX: the C heap.
#include <cstdlib>

#include "platform/com.h"

namespace platform {

void* CoTaskMemAlloc(std::size_t bytes) { return std::malloc(bytes == 0 ? 1 : bytes); }

void CoTaskMemFree(void* memory) { std::free(memory); }

}  // namespace platform
