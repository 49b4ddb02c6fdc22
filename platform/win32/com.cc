// COM: the class servers registered with the process first (tests register
// fault-injecting ones), then the system's CoGetClassObject, whose binary
// class objects the registered adapters turn into the engine's.
#include "platform/shared/class_servers.h"
#include "platform/shared/native_adapters.h"
#include "platform/win32/windows_api.h"

namespace platform {

HRESULT CoInitialize() { return static_cast<HRESULT>(::CoInitialize(nullptr)); }

void CoUninitialize() { ::CoUninitialize(); }

HRESULT CoGetClassObject(const GUID& clsid, DWORD context, std::unique_ptr<IClassFactory>& out) {
  bool found = false;
  const HRESULT hr = shared::InProcessClassObject(clsid, context, out, &found);
  if (found) return hr;
  // A server registered with the system: its objects speak the binary COM
  // interfaces, which the engine's interfaces do not bind yet, so the
  // request fails as for an object without the interface asked for.
  ::CLSID native;
  native.Data1 = clsid.data1;
  native.Data2 = clsid.data2;
  native.Data3 = clsid.data3;
  for (int i = 0; i < 8; ++i) native.Data4[i] = clsid.data4[i];
  ::IClassFactory* factory = nullptr;
  const HRESULT system = static_cast<HRESULT>(::CoGetClassObject(
      native, context, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
  if (FAILED(system)) return system;
  if (factory == nullptr) return E_POINTER;
  // A server of the system speaks the binary interfaces: the class's adapter
  // turns its class object into the engine's.
  return shared::AdaptNativeClassObject(
      clsid, factory, [](void* object) { static_cast<::IClassFactory*>(object)->Release(); }, out);
}

}  // namespace platform
