// The engine's side of the component's binary interface: each call builds
// the records of native_records.h, calls the method in its slot and turns
// what comes back into the engine's records, freeing what the component
// allocated.
#include <cstring>

#include "platform/text.h"
#include "snapshot/native_interfaces.h"
#include "snapshot/native_records.h"
#include "snapshot/snapshot_service.h"

namespace ark::snapshot::native {
namespace {

// Calls the method in slot `slot` of a binary object.
template <typename R, typename... Args>
R CallSlot(void* object, int slot, Args... args) {
  using Fn = R (*)(void*, Args...);
  void* const* vtable = *static_cast<void* const* const*>(object);
  return reinterpret_cast<Fn>(vtable[slot])(object, args...);
}

// An interface pointer, released once.
class ObjectRef {
 public:
  explicit ObjectRef(void* object) : object_(object) {}
  ~ObjectRef() {
    if (object_ != nullptr) CallSlot<unsigned long>(object_, kSlotRelease);
  }
  ObjectRef(const ObjectRef&) = delete;
  ObjectRef& operator=(const ObjectRef&) = delete;
  void* get() const { return object_; }

 private:
  void* object_;
};

// A wide string in task memory, for the component to own or to read.
WideChar* TaskString(const std::u16string& text) {
  auto* p = static_cast<WideChar*>(platform::CoTaskMemAlloc((text.size() + 1) * sizeof(WideChar)));
  if (p == nullptr) return nullptr;
  std::memcpy(p, text.data(), text.size() * sizeof(WideChar));
  p[text.size()] = 0;
  return p;
}

// Task-memory strings passed to a call that only reads them.
class TaskStrings {
 public:
  ~TaskStrings() {
    for (WideChar* p : owned_) platform::CoTaskMemFree(p);
  }
  WideChar* Add(const std::u16string& text) {
    WideChar* p = TaskString(text);
    if (p != nullptr) owned_.push_back(p);
    return p;
  }

 private:
  std::vector<WideChar*> owned_;
};

std::u16string Text(const WideChar* p) { return p == nullptr ? std::u16string() : std::u16string(p); }

class SnapshotFilesProxy final : public ISnapshotFiles {
 public:
  explicit SnapshotFilesProxy(void* object) : object_(object) {}

  HRESULT GetSnapshotRoot(const std::u16string& drive, const std::u16string& name, std::u16string& root) override {
    TaskStrings s;
    WideChar* d = s.Add(drive);
    WideChar* n = s.Add(name);
    if (d == nullptr || n == nullptr) return E_OUTOFMEMORY;
    WideChar* text = nullptr;
    HRESULT hr = CallSlot<HRESULT>(object_.get(), kSlotGetSnapshotRoot, d, n, &text);
    if (SUCCEEDED(hr) && text == nullptr) hr = E_POINTER;
    if (SUCCEEDED(hr)) root = Text(text);
    platform::CoTaskMemFree(text);  // the component's, ours to free
    return hr;
  }

 private:
  ObjectRef object_;
};

class SnapshotServiceProxy final : public ISnapshotService {
 public:
  explicit SnapshotServiceProxy(void* object) : object_(object) {}

  // ISnapshotFiles, the one further interface the engine adapts: slot 0 of
  // the binary object with its IID.
  HRESULT QueryInterface(const platform::GUID& iid, std::unique_ptr<platform::IUnknown>& out) override {
    out.reset();
    if (!(iid == IID_ISnapshotFiles)) return E_NOINTERFACE;
    void* other = nullptr;
    const HRESULT hr = CallSlot<HRESULT>(object_.get(), kSlotQueryInterface, &iid, &other);
    if (FAILED(hr)) return hr;
    if (other == nullptr) return E_POINTER;
    out = std::make_unique<SnapshotFilesProxy>(other);
    return S_OK;
  }

  HRESULT CreateSnapShot(const SnapshotDriveSet& drives, const std::u16string& name) override {
    // The array, its strings and the name go to the component, which frees
    // them; until the call they are ours to free.
    const std::size_t count = drives.drives.size();
    auto* array = static_cast<DriveInfo*>(platform::CoTaskMemAlloc(sizeof(DriveInfo) * (count == 0 ? 1 : count)));
    if (array == nullptr) return E_OUTOFMEMORY;
    std::size_t made = 0;
    for (; made < count; ++made) {
      array[made].driveLetter = TaskString(drives.drives[made].DRIVELETTER);
      array[made].flag = drives.drives[made].flag;
      if (array[made].driveLetter == nullptr) break;
    }
    WideChar* wideName = made == count ? TaskString(name) : nullptr;
    if (wideName == nullptr) {
      for (std::size_t i = 0; i < made; ++i) platform::CoTaskMemFree(array[i].driveLetter);
      platform::CoTaskMemFree(array);
      return E_OUTOFMEMORY;
    }
    DriveSet set{drives.reserved0, drives.reserved1, std::uint32_t(count), array};
    return CallSlot<HRESULT>(object_.get(), kSlotCreateSnapShot, &set, wideName);
  }

  HRESULT RestoreSnapShot(const std::u16string& drive, const std::u16string& name) override {
    TaskStrings s;
    WideChar* d = s.Add(drive);
    WideChar* n = s.Add(name);
    if (d == nullptr || n == nullptr) return E_OUTOFMEMORY;
    return CallSlot<HRESULT>(object_.get(), kSlotRestoreSnapShot, d, n);
  }

  HRESULT DeleteSnapShot(const std::u16string& drive, const std::u16string& name, std::uint8_t* flag) override {
    TaskStrings s;
    WideChar* d = s.Add(drive);
    WideChar* n = s.Add(name);
    if (d == nullptr || n == nullptr) return E_OUTOFMEMORY;
    return CallSlot<HRESULT>(object_.get(), kSlotDeleteSnapShot, d, n, flag);
  }

  HRESULT RenameSnapShot(const std::u16string& drive, const std::u16string& oldName,
                         const std::u16string& newName) override {
    TaskStrings s;
    WideChar* d = s.Add(drive);
    WideChar* o = s.Add(oldName);
    WideChar* n = s.Add(newName);
    if (d == nullptr || o == nullptr || n == nullptr) return E_OUTOFMEMORY;
    return CallSlot<HRESULT>(object_.get(), kSlotRenameSnapShot, d, o, n);
  }

  HRESULT EnumerateSnapShots(const std::u16string& drive, SnapshotList& list, std::uint32_t one) override {
    list.entries.clear();
    TaskStrings s;
    WideChar* d = s.Add(drive);
    if (d == nullptr) return E_OUTOFMEMORY;
    List out[4];
    std::memset(out, 0, sizeof out);
    const HRESULT hr = CallSlot<HRESULT>(object_.get(), kSlotEnumerateSnapShots, d, &out[0], &out[1], &out[2],
                                         &out[3], one);
    auto* entries = static_cast<SnapshotInfo*>(out[0].items);
    if (SUCCEEDED(hr)) {
      for (std::uint32_t i = 0; entries != nullptr && i < out[0].count; ++i) {
        snapshot::SnapshotInfo info;
        info.name = Text(entries[i].name);
        info.creationTime = FILETIME{entries[i].creationTimeLow, entries[i].creationTimeHigh};
        std::memcpy(info.extra.data(), entries[i].extra, info.extra.size());
        list.entries.push_back(std::move(info));
      }
    }
    // Whatever the component returned is ours to free, also after a failure.
    for (std::uint32_t i = 0; entries != nullptr && i < out[0].count; ++i) platform::CoTaskMemFree(entries[i].name);
    for (List& record : out) platform::CoTaskMemFree(record.items);
    return hr;
  }

 private:
  ObjectRef object_;
};

class DiskServiceProxy final : public IDiskService {
 public:
  explicit DiskServiceProxy(void* object) : object_(object) {}

  HRESULT ListDisks(std::vector<snapshot::DiskInfo>& disks) override {
    disks.clear();
    List out{0, nullptr};
    const HRESULT hr = CallSlot<HRESULT>(object_.get(), kSlotListDisks, &out);
    auto* entries = static_cast<native::DiskInfo*>(out.items);
    for (std::uint32_t i = 0; entries != nullptr && i < out.count; ++i) {
      const native::DiskInfo& e = entries[i];
      if (SUCCEEDED(hr)) {
        snapshot::DiskInfo disk;
        disk.diskPath = Text(e.diskPath);
        disk.devicePath = Text(e.devicePath);
        for (std::uint32_t k = 0; e.letters != nullptr && k < e.letterCount; ++k) {
          disk.driveLetters.push_back(Text(e.letters[k]));
        }
        disks.push_back(std::move(disk));
      }
      for (std::uint32_t k = 0; e.letters != nullptr && k < e.letterCount; ++k) platform::CoTaskMemFree(e.letters[k]);
      platform::CoTaskMemFree(e.letters);
      platform::CoTaskMemFree(e.diskPath);
      platform::CoTaskMemFree(e.devicePath);
    }
    platform::CoTaskMemFree(out.items);
    return hr;
  }

 private:
  ObjectRef object_;
};

// The class object of one class: CreateInstance gives the proxy of its interface.
template <typename Proxy>
class ClassFactoryProxy final : public platform::IClassFactory {
 public:
  explicit ClassFactoryProxy(void* factory) : factory_(factory) {}

  HRESULT CreateInstance(const platform::GUID& iid, std::unique_ptr<platform::IUnknown>& out) override {
    void* object = nullptr;
    const HRESULT hr = CallSlot<HRESULT>(factory_.get(), kSlotCreateInstance, static_cast<void*>(nullptr), &iid,
                                         &object);
    if (FAILED(hr)) return hr;
    if (object == nullptr) return E_POINTER;
    out = std::make_unique<Proxy>(object);
    return S_OK;
  }

 private:
  ObjectRef factory_;
};

}  // namespace

HRESULT AdaptClassObject(const platform::GUID& clsid, void* nativeFactory,
                         std::unique_ptr<platform::IClassFactory>& out) {
  if (clsid == CLSID_SnapshotService) {
    out = std::make_unique<ClassFactoryProxy<SnapshotServiceProxy>>(nativeFactory);
  } else if (clsid == CLSID_DiskService) {
    out = std::make_unique<ClassFactoryProxy<DiskServiceProxy>>(nativeFactory);
  } else {
    ObjectRef release(nativeFactory);
    return E_NOINTERFACE;
  }
  return S_OK;
}

void RegisterNativeAdapters() {
  for (const platform::GUID& clsid : {CLSID_SnapshotService, CLSID_DiskService}) {
    platform::RegisterNativeClassAdapter(clsid, [clsid](void* factory, std::unique_ptr<platform::IClassFactory>& out) {
      return AdaptClassObject(clsid, factory, out);
    });
  }
}

}  // namespace ark::snapshot::native
