// HKEY_LOCAL_MACHINE, kept in DIR/registry.reg in the Windows .reg text format.
// Key and value names compare without regard to letter case. Readers see
// edits made by other processes (the file is re-read when it changed);
// writers rewrite the file atomically under a lock, keeping all else.
#pragma once

#include <string>
#include <vector>

#include "platform/win_types.h"

namespace platform {

enum class RegType { String, ExpandString, Dword };

struct RegValue {
  std::string name;
  RegType type = RegType::String;
  std::string text;  // String and ExpandString
  DWORD number = 0;  // Dword
};

// Key paths are relative to HKEY_LOCAL_MACHINE, e.g. "SOFTWARE\Lotus\Domino".
// Results are Win32 codes: ERROR_SUCCESS, ERROR_FILE_NOT_FOUND (no such key
// or value), ERROR_INVALID_PARAMETER (wrong value type), or an I/O error.
bool RegKeyExists(const std::string& key);
LONG RegCreateKey(const std::string& key);  // with all missing parents
LONG RegDeleteKeyTree(const std::string& key);
LONG RegGetString(const std::string& key, const std::string& value, std::string& out);
LONG RegGetDword(const std::string& key, const std::string& value, DWORD& out);
LONG RegSetString(const std::string& key, const std::string& value, const std::string& text,
                  RegType type = RegType::String);  // creates the key
LONG RegSetDword(const std::string& key, const std::string& value, DWORD number);
LONG RegDeleteValue(const std::string& key, const std::string& value);
std::vector<std::string> RegEnumSubKeys(const std::string& key);  // direct children, names only
std::vector<RegValue> RegEnumValues(const std::string& key);

}  // namespace platform
