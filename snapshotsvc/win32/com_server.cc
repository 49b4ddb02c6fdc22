// The component as a COM in-process server of the system: class objects and
// interface objects laid out as binary tables in the slots of com_slots.h,
// each method turning the records of snapshot/native_records.h into the
// calls of SnapshotServiceImpl, SnapshotFilesImpl and DiskServiceImpl;
// registration for regsvr32.
#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "snapshot/native_records.h"
#include "snapshot/snapshot_service.h"
#include "snapshotsvc/com_slots.h"
#include "snapshotsvc/component_config.h"
#include "snapshotsvc/snapshot_files_impl.h"
#include "snapshotsvc/snapshot_service_impl.h"
#include "platform/win32/windows_api.h"

namespace {

namespace native = ark::snapshot::native;
namespace slots = snapshotsvc::slots;
using native::WideChar;

// {00000000-0000-0000-C000-000000000046}
const platform::GUID kIID_IUnknown{0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};

std::u16string Text(const WideChar* p) { return p == nullptr ? std::u16string() : std::u16string(p); }

WideChar* TaskString(const std::u16string& text) {
  auto* p = static_cast<WideChar*>(::CoTaskMemAlloc((text.size() + 1) * sizeof(WideChar)));
  if (p == nullptr) return nullptr;
  std::memcpy(p, text.data(), text.size() * sizeof(WideChar));
  p[text.size()] = 0;
  return p;
}

// A binary object: its table first, then the reference count and the
// implementation.
template <typename Impl>
struct Object {
  void* const* table;
  std::atomic<unsigned long> refs{1};
  Impl impl;
  const platform::GUID* iid;
};

template <typename Impl>
Object<Impl>* Self(void* self) {
  return static_cast<Object<Impl>*>(self);
}

template <typename Impl>
WinHRESULT QueryInterface(void* self, const platform::GUID* iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (iid == nullptr) return E_INVALIDARG;
  if (!(*iid == kIID_IUnknown) && !(*iid == *Self<Impl>(self)->iid)) return E_NOINTERFACE;
  ++Self<Impl>(self)->refs;
  *out = self;
  return S_OK;
}

template <typename Impl>
unsigned long AddRef(void* self) {
  return ++Self<Impl>(self)->refs;
}

template <typename Impl>
unsigned long Release(void* self) {
  const unsigned long left = --Self<Impl>(self)->refs;
  if (left == 0) {
    delete Self<Impl>(self);
    --g_objects;
  }
  return left;
}

WinHRESULT NotCalled(void*) { return E_NOTIMPL; }

// ISnapshotService -----------------------------------------------------------

// The snapshot object also offers ISnapshotFiles, through QueryInterface: a
// second table in the object (`files`), whose methods reach the object
// through `owner` and count their references with it.
struct SnapshotParts;
using SnapshotObject = Object<SnapshotParts>;
struct FilesPart {
  void* const* table;
  SnapshotObject* owner;
  snapshotsvc::SnapshotFilesImpl impl;
};
struct SnapshotParts {
  snapshotsvc::SnapshotServiceImpl service;
  FilesPart files;
};

snapshotsvc::SnapshotServiceImpl& Service(void* self) { return Self<SnapshotParts>(self)->impl.service; }

WinHRESULT SnapshotQueryInterface(void* self, const platform::GUID* iid, void** out) {
  if (out == nullptr || iid == nullptr || !(*iid == ark::snapshot::IID_ISnapshotFiles)) {
    return QueryInterface<SnapshotParts>(self, iid, out);
  }
  ++Self<SnapshotParts>(self)->refs;
  *out = &Self<SnapshotParts>(self)->impl.files;
  return S_OK;
}

WinHRESULT CreateSnapShot(void* self, native::DriveSet* set, WideChar* name) {
  // The array, its strings and the name are ours to free, whatever happens.
  ark::snapshot::SnapshotDriveSet drives;
  if (set != nullptr) {
    drives.reserved0 = set->reserved0;
    drives.reserved1 = set->reserved1;
    for (std::uint32_t i = 0; set->drives != nullptr && i < set->count; ++i) {
      drives.drives.push_back(ark::snapshot::SNAPSHOT_DRIVE_INFO{Text(set->drives[i].driveLetter), set->drives[i].flag});
      ::CoTaskMemFree(set->drives[i].driveLetter);
    }
    ::CoTaskMemFree(set->drives);
  }
  const std::u16string wideName = Text(name);
  ::CoTaskMemFree(name);
  if (set == nullptr) return E_POINTER;
  return Service(self).CreateSnapShot(drives, wideName);
}

WinHRESULT RestoreSnapShot(void* self, WideChar* drive, WideChar* name) {
  return Service(self).RestoreSnapShot(Text(drive), Text(name));
}

WinHRESULT DeleteSnapShot(void* self, WideChar* drive, WideChar* name, std::uint8_t* flag) {
  return Service(self).DeleteSnapShot(Text(drive), Text(name), flag);
}

WinHRESULT RenameSnapShot(void* self, WideChar* drive, WideChar* oldName, WideChar* newName) {
  return Service(self).RenameSnapShot(Text(drive), Text(oldName),
                                                                            Text(newName));
}

WinHRESULT EnumerateSnapShots(void* self, WideChar* drive, native::List* list, native::List*, native::List*,
                              native::List*, std::uint32_t one) {
  if (list == nullptr) return E_POINTER;
  ark::snapshot::SnapshotList snapshots;
  const HRESULT hr = Service(self).EnumerateSnapShots(Text(drive), snapshots, one);
  if (FAILED(hr)) return hr;
  const std::size_t count = snapshots.entries.size();
  auto* entries = static_cast<native::SnapshotInfo*>(::CoTaskMemAlloc(sizeof(native::SnapshotInfo) * (count + 1)));
  if (entries == nullptr) return E_OUTOFMEMORY;
  std::memset(entries, 0, sizeof(native::SnapshotInfo) * (count + 1));
  for (std::size_t i = 0; i < count; ++i) {
    const ark::snapshot::SnapshotInfo& info = snapshots.entries[i];
    entries[i].name = TaskString(info.name);
    entries[i].creationTimeLow = info.creationTime.dwLowDateTime;
    entries[i].creationTimeHigh = info.creationTime.dwHighDateTime;
    std::memcpy(entries[i].extra, info.extra.data(), sizeof entries[i].extra);
    if (entries[i].name == nullptr) {
      for (std::size_t k = 0; k < i; ++k) ::CoTaskMemFree(entries[k].name);
      ::CoTaskMemFree(entries);
      return E_OUTOFMEMORY;
    }
  }
  list->count = std::uint32_t(count);
  list->items = entries;
  return S_OK;
}

void* const kSnapshotTable[slots::kSnapshotServiceCount] = {
    reinterpret_cast<void*>(&SnapshotQueryInterface),
    reinterpret_cast<void*>(&AddRef<SnapshotParts>),
    reinterpret_cast<void*>(&Release<SnapshotParts>),
    reinterpret_cast<void*>(&CreateSnapShot),
    reinterpret_cast<void*>(&RestoreSnapShot),
    reinterpret_cast<void*>(&DeleteSnapShot),
    reinterpret_cast<void*>(&RenameSnapShot),
    reinterpret_cast<void*>(&NotCalled),
    reinterpret_cast<void*>(&NotCalled),
    reinterpret_cast<void*>(&EnumerateSnapShots),
};
static_assert(slots::kCreateSnapShot == 3 && slots::kEnumerateSnapShots == 9,
              "kSnapshotTable lists the methods in slot order");

// ISnapshotFiles (the snapshot object's second table) ------------------------------

SnapshotObject* Owner(void* self) { return static_cast<FilesPart*>(self)->owner; }

WinHRESULT FilesQueryInterface(void* self, const platform::GUID* iid, void** out) {
  return SnapshotQueryInterface(Owner(self), iid, out);
}
unsigned long FilesAddRef(void* self) { return AddRef<SnapshotParts>(Owner(self)); }
unsigned long FilesRelease(void* self) { return Release<SnapshotParts>(Owner(self)); }

// The root is allocated here and freed by the caller; drive and name stay the caller's.
WinHRESULT GetSnapshotRoot(void* self, WideChar* drive, WideChar* name, WideChar** root) {
  if (root == nullptr) return E_POINTER;
  *root = nullptr;
  std::u16string text;
  const HRESULT hr = static_cast<FilesPart*>(self)->impl.GetSnapshotRoot(Text(drive), Text(name), text);
  if (FAILED(hr)) return hr;
  *root = TaskString(text);
  return *root == nullptr ? E_OUTOFMEMORY : hr;
}

void* const kFilesTable[slots::kSnapshotFilesCount] = {
    reinterpret_cast<void*>(&FilesQueryInterface),
    reinterpret_cast<void*>(&FilesAddRef),
    reinterpret_cast<void*>(&FilesRelease),
    reinterpret_cast<void*>(&GetSnapshotRoot),
};
static_assert(slots::kGetSnapshotRoot == 3, "kFilesTable lists the methods in slot order");

// IDiskService -----------------------------------------------------------------

using DiskObject = Object<snapshotsvc::DiskServiceImpl>;

void FreeDisks(native::DiskInfo* entries, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    for (std::uint32_t k = 0; entries[i].letters != nullptr && k < entries[i].letterCount; ++k) {
      ::CoTaskMemFree(entries[i].letters[k]);
    }
    ::CoTaskMemFree(entries[i].letters);
    ::CoTaskMemFree(entries[i].diskPath);
    ::CoTaskMemFree(entries[i].devicePath);
  }
  ::CoTaskMemFree(entries);
}

WinHRESULT ListDisks(void* self, native::List* list) {
  if (list == nullptr) return E_POINTER;
  std::vector<ark::snapshot::DiskInfo> disks;
  const HRESULT hr = Self<snapshotsvc::DiskServiceImpl>(self)->impl.ListDisks(disks);
  if (FAILED(hr)) return hr;
  const std::size_t count = disks.size();
  auto* entries = static_cast<native::DiskInfo*>(::CoTaskMemAlloc(sizeof(native::DiskInfo) * (count + 1)));
  if (entries == nullptr) return E_OUTOFMEMORY;
  std::memset(entries, 0, sizeof(native::DiskInfo) * (count + 1));
  bool complete = true;
  for (std::size_t i = 0; i < count && complete; ++i) {
    native::DiskInfo& e = entries[i];
    e.diskPath = TaskString(disks[i].diskPath);
    e.devicePath = TaskString(disks[i].devicePath);
    const std::size_t letters = disks[i].driveLetters.size();
    e.letters = static_cast<WideChar**>(::CoTaskMemAlloc(sizeof(WideChar*) * (letters + 1)));
    complete = e.diskPath != nullptr && e.devicePath != nullptr && e.letters != nullptr;
    for (std::size_t k = 0; complete && k < letters; ++k) {
      e.letters[k] = TaskString(disks[i].driveLetters[k]);
      e.letterCount = std::uint32_t(k + 1);
      complete = e.letters[k] != nullptr;
    }
  }
  if (!complete) {
    FreeDisks(entries, count);
    return E_OUTOFMEMORY;
  }
  list->count = std::uint32_t(count);
  list->items = entries;
  return S_OK;
}

void* const* DiskTable() {
  static void* table[slots::kDiskServiceCount];
  static const bool filled = [] {
    table[slots::kQueryInterface] = reinterpret_cast<void*>(&QueryInterface<snapshotsvc::DiskServiceImpl>);
    table[slots::kAddRef] = reinterpret_cast<void*>(&AddRef<snapshotsvc::DiskServiceImpl>);
    table[slots::kRelease] = reinterpret_cast<void*>(&Release<snapshotsvc::DiskServiceImpl>);
    for (int slot = 3; slot < slots::kListDisks; ++slot) table[slot] = reinterpret_cast<void*>(&NotCalled);
    table[slots::kListDisks] = reinterpret_cast<void*>(&ListDisks);
    return true;
  }();
  (void)filled;
  return table;
}

// Class objects ---------------------------------------------------------------------

// {00000001-0000-0000-C000-000000000046}
const platform::GUID& ClassFactoryIid() { return ark::snapshot::IID_IClassFactory; }

struct FactoryState {
  bool snapshotClass = true;
};
using FactoryObject = Object<FactoryState>;

WinHRESULT CreateInstance(void* self, void* outer, const platform::GUID* iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  if (iid == nullptr) return E_INVALIDARG;
  if (Self<FactoryState>(self)->impl.snapshotClass) {
    if (!(*iid == ark::snapshot::IID_ISnapshotService) && !(*iid == kIID_IUnknown)) return E_NOINTERFACE;
    auto* object = new SnapshotObject{kSnapshotTable, {1}, {}, &ark::snapshot::IID_ISnapshotService};
    object->impl.files.table = kFilesTable;
    object->impl.files.owner = object;
    ++g_objects;
    *out = object;
    return S_OK;
  }
  if (!(*iid == ark::snapshot::IID_IDiskService) && !(*iid == kIID_IUnknown)) return E_NOINTERFACE;
  auto* object = new DiskObject{DiskTable(), {1}, {}, &ark::snapshot::IID_IDiskService};
  ++g_objects;
  *out = object;
  return S_OK;
}

WinHRESULT LockServer(void*, int lock) {
  if (lock != 0) ++g_locks;
  else --g_locks;
  return S_OK;
}

void* const kFactoryTable[slots::kClassFactoryCount] = {
    reinterpret_cast<void*>(&QueryInterface<FactoryState>),
    reinterpret_cast<void*>(&AddRef<FactoryState>),
    reinterpret_cast<void*>(&Release<FactoryState>),
    reinterpret_cast<void*>(&CreateInstance),
    reinterpret_cast<void*>(&LockServer),
};

// Registration ------------------------------------------------------------------------

std::string ModulePath() {
  HMODULE module = nullptr;
  if (!::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&ModulePath), &module)) {
    return {};
  }
  char buffer[MAX_PATH * 4];
  const WinDWORD n = ::GetModuleFileNameA(module, buffer, sizeof buffer);
  return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
}

WinHRESULT RegisterClass(const char* classKey) {
  const std::string module = ModulePath();
  if (module.empty()) return E_UNEXPECTED;
  const std::string server = std::string(classKey) + "\\InprocServer32";
  LONG rc = platform::RegSetString(classKey, "", "ark snapshot component");
  if (rc == LONG(ERROR_SUCCESS)) rc = platform::RegSetString(server, "", module);
  if (rc == LONG(ERROR_SUCCESS)) rc = platform::RegSetString(server, "ThreadingModel", "Both");
  return rc == LONG(ERROR_SUCCESS) ? S_OK : HRESULT_FROM_WIN32(DWORD(rc));
}

}  // namespace

extern "C" {

WinHRESULT __stdcall DllGetClassObject(REFCLSID nativeClsid, REFIID nativeIid, LPVOID* out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  // The system's GUID and the platform's have the same 16 bytes.
  const auto* clsid = reinterpret_cast<const platform::GUID*>(&nativeClsid);
  const auto* iid = reinterpret_cast<const platform::GUID*>(&nativeIid);
  bool snapshotClass;
  if (*clsid == ark::snapshot::CLSID_SnapshotService) {
    snapshotClass = true;
  } else if (*clsid == ark::snapshot::CLSID_DiskService) {
    snapshotClass = false;
  } else {
    return CLASS_E_CLASSNOTAVAILABLE;
  }
  if (!(*iid == ClassFactoryIid()) && !(*iid == kIID_IUnknown)) return E_NOINTERFACE;
  auto* factory = new FactoryObject{kFactoryTable, {1}, {snapshotClass}, &ClassFactoryIid()};
  ++g_objects;
  *out = factory;
  return S_OK;
}

WinHRESULT __stdcall DllCanUnloadNow() { return g_objects.load() == 0 && g_locks.load() == 0 ? S_OK : S_FALSE; }

WinHRESULT __stdcall DllRegisterServer() {
  WinHRESULT hr = RegisterClass(snapshotsvc::kSnapshotClassKey);
  if (SUCCEEDED(hr)) hr = RegisterClass(snapshotsvc::kDiskClassKey);
  return hr;
}

WinHRESULT __stdcall DllUnregisterServer() {
  platform::RegDeleteKeyTree(snapshotsvc::kSnapshotClassKey);
  platform::RegDeleteKeyTree(snapshotsvc::kDiskClassKey);
  return S_OK;
}

}  // extern "C"
