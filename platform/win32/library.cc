// Libraries by full path: LoadLibraryExA with the library's own directory
// searched first for what it needs in turn, functions by ordinal
// (GetProcAddress with MAKEINTRESOURCEA) or by name.
#include "platform/library.h"
#include "platform/win32/windows_api.h"

namespace platform {

Library::~Library() {
  if (handle_ != nullptr) ::FreeLibrary(static_cast<HMODULE>(handle_));
}

DWORD Library::Load(const std::string& fullPath) {
  if (handle_ != nullptr) return ERROR_INVALID_FUNCTION;
  // No error dialog for a library that cannot be loaded: a service has no one to answer it.
  const UINT previous = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE module = ::LoadLibraryExA(fullPath.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  const DWORD err = module != nullptr ? ERROR_SUCCESS : static_cast<DWORD>(::GetLastError());
  ::SetErrorMode(previous);
  handle_ = module;
  return err;
}

void* Library::FindOrdinal(WORD ordinal) const {
  if (handle_ == nullptr) return nullptr;
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(handle_), MAKEINTRESOURCEA(ordinal)));
}

void* Library::FindName(const char* name) const {
  if (handle_ == nullptr) return nullptr;
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(handle_), name));
}

}  // namespace platform
