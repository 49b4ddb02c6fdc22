// HKEY_LOCAL_MACHINE of the machine, through the registry calls.
#include "platform/win32/windows_api.h"

namespace platform {
namespace {

// An open registry key, closed by the destructor.
class Key {
 public:
  Key() = default;
  ~Key() {
    if (h_ != nullptr) ::RegCloseKey(h_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  HKEY* out() { return &h_; }
  HKEY get() const { return h_; }

 private:
  HKEY h_ = nullptr;
};

LONG Open(const std::string& path, REGSAM access, Key& key) {
  return static_cast<LONG>(::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, access, key.out()));
}

LONG Create(const std::string& path, Key& key) {
  return static_cast<LONG>(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                             KEY_READ | KEY_WRITE, nullptr, key.out(), nullptr));
}

// The raw bytes and type of a value.
LONG Query(const std::string& path, const std::string& value, WinDWORD& type, std::string& data) {
  Key key;
  if (const LONG err = Open(path, KEY_QUERY_VALUE, key); err != ERROR_SUCCESS) return err;
  WinDWORD size = 0;
  LONG err = static_cast<LONG>(::RegQueryValueExA(key.get(), value.c_str(), nullptr, &type, nullptr, &size));
  // The value may grow between the two calls: ask again with the new size.
  for (int attempt = 0; attempt < 4 && err == ERROR_SUCCESS; ++attempt) {
    data.assign(size, '\0');
    WinDWORD got = size;
    err = static_cast<LONG>(::RegQueryValueExA(key.get(), value.c_str(), nullptr, &type,
                                               reinterpret_cast<BYTE*>(data.data()), &got));
    if (err == ERROR_SUCCESS) {
      data.resize(got);
      return ERROR_SUCCESS;
    }
    if (err == static_cast<LONG>(ERROR_MORE_DATA)) {
      size = got;
      err = ERROR_SUCCESS;
    }
  }
  return err;
}

// Text without the terminating zero (which a writer may have left out).
std::string TextOf(const std::string& data) {
  const auto zero = data.find('\0');
  return zero == std::string::npos ? data : data.substr(0, zero);
}

LONG Set(const std::string& path, const std::string& value, WinDWORD type, const void* data, std::size_t size) {
  Key key;
  if (const LONG err = Create(path, key); err != ERROR_SUCCESS) return err;
  return static_cast<LONG>(::RegSetValueExA(key.get(), value.c_str(), 0, type, static_cast<const BYTE*>(data),
                                            static_cast<WinDWORD>(size)));
}

}  // namespace

bool RegKeyExists(const std::string& key) {
  Key k;
  return Open(key, KEY_READ, k) == ERROR_SUCCESS;
}

LONG RegCreateKey(const std::string& key) {
  Key k;
  return Create(key, k);
}

LONG RegDeleteKeyTree(const std::string& key) {
  return static_cast<LONG>(::RegDeleteTreeA(HKEY_LOCAL_MACHINE, key.c_str()));
}

LONG RegGetString(const std::string& key, const std::string& value, std::string& out) {
  WinDWORD type = 0;
  std::string data;
  if (const LONG err = Query(key, value, type, data); err != ERROR_SUCCESS) return err;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_INVALID_PARAMETER;
  out = TextOf(data);
  return ERROR_SUCCESS;
}

LONG RegGetDword(const std::string& key, const std::string& value, DWORD& out) {
  WinDWORD type = 0;
  std::string data;
  if (const LONG err = Query(key, value, type, data); err != ERROR_SUCCESS) return err;
  if (type != REG_DWORD || data.size() != 4) return ERROR_INVALID_PARAMETER;
  out = DWORD(BYTE(data[0])) | DWORD(BYTE(data[1])) << 8 | DWORD(BYTE(data[2])) << 16 | DWORD(BYTE(data[3])) << 24;
  return ERROR_SUCCESS;
}

LONG RegSetString(const std::string& key, const std::string& value, const std::string& text, RegType type) {
  if (type == RegType::Dword) return ERROR_INVALID_PARAMETER;
  // With its terminating zero.
  return Set(key, value, type == RegType::ExpandString ? REG_EXPAND_SZ : REG_SZ, text.c_str(), text.size() + 1);
}

LONG RegSetDword(const std::string& key, const std::string& value, DWORD number) {
  const WinDWORD native = number;
  return Set(key, value, REG_DWORD, &native, sizeof native);
}

LONG RegDeleteValue(const std::string& key, const std::string& value) {
  Key k;
  if (const LONG err = Open(key, KEY_SET_VALUE, k); err != ERROR_SUCCESS) return err;
  return static_cast<LONG>(::RegDeleteValueA(k.get(), value.c_str()));
}

std::vector<std::string> RegEnumSubKeys(const std::string& key) {
  std::vector<std::string> names;
  Key k;
  if (Open(key, KEY_ENUMERATE_SUB_KEYS, k) != ERROR_SUCCESS) return names;
  for (WinDWORD index = 0;; ++index) {
    char name[256];
    WinDWORD size = sizeof name;
    if (::RegEnumKeyExA(k.get(), index, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name, size);
  }
  return names;
}

std::vector<RegValue> RegEnumValues(const std::string& key) {
  std::vector<RegValue> values;
  Key k;
  if (Open(key, KEY_QUERY_VALUE, k) != ERROR_SUCCESS) return values;
  for (WinDWORD index = 0;; ++index) {
    char name[16384];
    WinDWORD nameSize = sizeof name;
    WinDWORD type = 0;
    if (::RegEnumValueA(k.get(), index, name, &nameSize, nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS) break;
    RegValue value;
    value.name.assign(name, nameSize);
    std::string data;
    if (type == REG_DWORD) {
      value.type = RegType::Dword;
      if (RegGetDword(key, value.name, value.number) != ERROR_SUCCESS) continue;
    } else if (type == REG_SZ || type == REG_EXPAND_SZ) {
      value.type = type == REG_SZ ? RegType::String : RegType::ExpandString;
      if (RegGetString(key, value.name, value.text) != ERROR_SUCCESS) continue;
    } else {
      continue;  // types the engine does not use
    }
    values.push_back(std::move(value));
  }
  return values;
}

}  // namespace platform
