// Component objects: class identifiers, interfaces released by ownership,
// and the class-object request through which the engine reaches a component.
// A component is installed when its key exists under
// HKLM\SOFTWARE\Classes\CLSID\{...} and an in-process server for the class
// has been registered with the process (RegisterClassServer).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/win_types.h"

namespace platform {

struct GUID {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::uint8_t data4[8] = {};
  bool operator==(const GUID& other) const;
};

// "{4d19cff7-4c5d-4f02-95c8-80ede568f053}" (lower case, with braces).
std::string GuidToString(const GUID& guid);

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;

// Base of every interface; releasing is destroying.
class IUnknown {
 public:
  virtual ~IUnknown() = default;
  // Another interface of the same component object, for an object that
  // offers more than the one it was created as: S_OK with out holding it
  // (the caller's to release; it stays usable after this one is released),
  // or E_NOINTERFACE with out empty. Objects offer nothing more unless they
  // say so.
  virtual HRESULT QueryInterface(const GUID& iid, std::unique_ptr<IUnknown>& out) {
    (void)iid;
    out.reset();
    return E_NOINTERFACE;
  }
};

class IClassFactory : public IUnknown {
 public:
  virtual HRESULT CreateInstance(const GUID& iid, std::unique_ptr<IUnknown>& out) = 0;
};

// Creates an instance of interface T through a factory.
template <typename T>
HRESULT CreateInstance(IClassFactory& factory, const GUID& iid, std::unique_ptr<T>& out) {
  std::unique_ptr<IUnknown> object;
  HRESULT hr = factory.CreateInstance(iid, object);
  if (FAILED(hr)) return hr;
  T* typed = dynamic_cast<T*>(object.get());
  if (typed == nullptr) return E_NOINTERFACE;
  object.release();
  out.reset(typed);
  return S_OK;
}

// Asks an object for interface T (QueryInterface): E_NOINTERFACE when the
// object does not offer it or gives another type.
template <typename T>
HRESULT QueryInterface(IUnknown& object, const GUID& iid, std::unique_ptr<T>& out) {
  out.reset();
  std::unique_ptr<IUnknown> other;
  HRESULT hr = object.QueryInterface(iid, other);
  if (FAILED(hr)) return hr;
  T* typed = dynamic_cast<T*>(other.get());
  if (typed == nullptr) return E_NOINTERFACE;
  other.release();
  out.reset(typed);
  return S_OK;
}

using ClassServer = std::function<HRESULT(std::unique_ptr<IClassFactory>& out)>;

// Makes a class's in-process server known to this process (replacing any
// earlier one); tests register fault-injecting servers this way.
void RegisterClassServer(const GUID& clsid, ClassServer server);
void UnregisterClassServer(const GUID& clsid);

// COM for the calling thread (CoInitialize with no reserved argument):
// S_OK, or S_FALSE when it was already started; each success is undone by
// one CoUninitialize. POSIX has no COM library to start.
HRESULT CoInitialize();
void CoUninitialize();

// The error information of the calling thread (SetErrorInfo and
// GetErrorInfo): a component that fails a call may leave a description of
// the failure, which its caller takes after the call; taking clears it. A
// caller takes (and drops) any stale one before the call.
void SetErrorDescription(const std::string& text);
bool TakeErrorDescription(std::string& text);

// CoGetClassObject: REGDB_E_CLASSNOTREG when the class key is missing from
// the registry or no server is registered in the process.
HRESULT CoGetClassObject(const GUID& clsid, DWORD context, std::unique_ptr<IClassFactory>& out);

// The COM task allocator (CoTaskMemAlloc, CoTaskMemFree): memory that one
// side of a component's binary interface allocates and the other frees.
void* CoTaskMemAlloc(std::size_t bytes);
void CoTaskMemFree(void* memory);

// Where a class is served by a COM server of the system (Windows), its class
// object is a binary IClassFactory; the adapter registered for the class
// takes it over (it releases it) and gives the engine's IClassFactory.
// Without an adapter such a class object is released and E_NOINTERFACE
// returned.
using NativeClassAdapter = std::function<HRESULT(void* nativeFactory, std::unique_ptr<IClassFactory>& out)>;
void RegisterNativeClassAdapter(const GUID& clsid, NativeClassAdapter adapter);

}  // namespace platform
