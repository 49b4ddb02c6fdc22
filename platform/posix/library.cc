// POSIX has no libraries exporting by ordinal: nothing loads.
#include "platform/library.h"

namespace platform {

Library::~Library() = default;

DWORD Library::Load(const std::string&) { return ERROR_NOT_SUPPORTED; }

void* Library::FindOrdinal(WORD) const { return nullptr; }

void* Library::FindName(const char*) const { return nullptr; }

}  // namespace platform
