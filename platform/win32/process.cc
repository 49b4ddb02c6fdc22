// Processes by executable name, through PSAPI.DLL loaded at run time.
#include <cstdint>

#include "platform/win32/windows_api.h"

namespace platform {
namespace {

using EnumProcessesFn = BOOL(WINAPI*)(WinDWORD*, WinDWORD, WinDWORD*);
using EnumProcessModulesFn = BOOL(WINAPI*)(HANDLE, HMODULE*, WinDWORD, WinDWORD*);
using GetModuleFileNameExFn = WinDWORD(WINAPI*)(HANDLE, HMODULE, LPSTR, WinDWORD);

class Library {
 public:
  explicit Library(const char* name) : module_(::LoadLibraryA(name)) {}
  ~Library() {
    if (module_ != nullptr) ::FreeLibrary(module_);
  }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
  bool loaded() const { return module_ != nullptr; }
  template <typename F>
  F Find(const char* name) const {
    return reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(module_, name)));
  }

 private:
  HMODULE module_;
};

class ProcessHandle {
 public:
  explicit ProcessHandle(HANDLE h) : h_(h) {}
  ~ProcessHandle() {
    if (h_ != nullptr) ::CloseHandle(h_);
  }
  ProcessHandle(const ProcessHandle&) = delete;
  ProcessHandle& operator=(const ProcessHandle&) = delete;
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

std::string WithoutExtension(const std::string& name) {
  const auto dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

std::string BaseName(const std::string& path) {
  const auto sep = path.find_last_of("\\/");
  return sep == std::string::npos ? path : path.substr(sep + 1);
}

}  // namespace

bool IsProcessRunning(const std::vector<std::string>& names) {
  if (names.empty()) return false;
  const Library psapi("PSAPI.DLL");
  if (!psapi.loaded()) return false;
  const auto enumProcesses = psapi.Find<EnumProcessesFn>("EnumProcesses");
  const auto enumModules = psapi.Find<EnumProcessModulesFn>("EnumProcessModules");
  const auto moduleFileName = psapi.Find<GetModuleFileNameExFn>("GetModuleFileNameExA");
  if (enumProcesses == nullptr || enumModules == nullptr || moduleFileName == nullptr) {
    // A service shows no message box: the trace says it instead.
    OutputDebugString("(ARKServer) Failed to load PSAPI.DLL\n");
    return false;
  }
  WinDWORD ids[1024];
  WinDWORD bytes = 0;
  if (!enumProcesses(ids, sizeof ids, &bytes)) return false;
  for (WinDWORD i = 0; i < bytes / sizeof ids[0]; ++i) {
    const ProcessHandle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ids[i]));
    if (process.get() == nullptr) continue;
    HMODULE first = nullptr;
    WinDWORD needed = 0;
    if (!enumModules(process.get(), &first, sizeof first, &needed)) continue;
    char path[1024] = {};
    if (moduleFileName(process.get(), first, path, sizeof path) == 0) continue;
    const std::string name = WithoutExtension(BaseName(path));
    for (const std::string& wanted : names) {
      if (EqualsNoCase(name, WithoutExtension(wanted))) return true;
    }
  }
  return false;
}

int CurrentProcessId() { return static_cast<int>(::GetCurrentProcessId()); }

// Windows handles have no per-process limit that a service must raise.
OpenFileLimits GetOpenFileLimits() { return {UINT64_MAX, UINT64_MAX}; }

OpenFileLimits RaiseOpenFileLimit(OpenFileLimits* after) {
  const OpenFileLimits limits = GetOpenFileLimits();
  if (after != nullptr) *after = limits;
  return limits;
}

}  // namespace platform
