#include "platform/shared/native_adapters.h"

#include <mutex>
#include <vector>

namespace platform {
namespace {

struct Adapter {
  GUID clsid;
  NativeClassAdapter adapt;
};

std::mutex g_adapterMutex;

std::vector<Adapter>& Adapters() {
  static std::vector<Adapter> adapters;
  return adapters;
}

}  // namespace

void RegisterNativeClassAdapter(const GUID& clsid, NativeClassAdapter adapter) {
  std::lock_guard<std::mutex> lock(g_adapterMutex);
  for (Adapter& a : Adapters()) {
    if (a.clsid == clsid) {
      a.adapt = std::move(adapter);
      return;
    }
  }
  Adapters().push_back(Adapter{clsid, std::move(adapter)});
}

namespace shared {

HRESULT AdaptNativeClassObject(const GUID& clsid, void* nativeFactory, void (*release)(void*),
                               std::unique_ptr<IClassFactory>& out) {
  NativeClassAdapter adapt;
  {
    std::lock_guard<std::mutex> lock(g_adapterMutex);
    for (const Adapter& a : Adapters()) {
      if (a.clsid == clsid) adapt = a.adapt;
    }
  }
  if (!adapt) {
    release(nativeFactory);
    return E_NOINTERFACE;
  }
  const HRESULT hr = adapt(nativeFactory, out);
  if (FAILED(hr)) out.reset();
  return hr;
}

}  // namespace shared
}  // namespace platform
