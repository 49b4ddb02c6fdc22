// A library loaded at run time by its full path (never through the search
// path), whose functions are found by the ordinals or the names they are
// exported by.
#pragma once

#include <string>

#include "platform/win_types.h"

namespace platform {

constexpr DWORD kErrorModNotFound = 126;    // ERROR_MOD_NOT_FOUND
constexpr DWORD kErrorProcNotFound = 127;   // ERROR_PROC_NOT_FOUND
constexpr DWORD kErrorBadExeFormat = 193;   // ERROR_BAD_EXE_FORMAT: not a library for this machine

class Library {
 public:
  Library() = default;
  ~Library();
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  // ERROR_SUCCESS, or the code of the failure: kErrorModNotFound (the file
  // or a library it needs is missing), kErrorBadExeFormat (not a library of
  // this machine's kind, such as a 32-bit one), others. POSIX has no
  // libraries that export by ordinal: ERROR_NOT_SUPPORTED.
  DWORD Load(const std::string& fullPath);
  // The function exported by ordinal; nullptr when there is none.
  void* FindOrdinal(WORD ordinal) const;
  // The function exported by name; nullptr when there is none.
  void* FindName(const char* name) const;
  bool loaded() const { return handle_ != nullptr; }

 private:
  void* handle_ = nullptr;
};

}  // namespace platform
