// The class-object request: a class is available when its key exists under
// HKLM\SOFTWARE\Classes\CLSID and a server for it is registered with the
// process. There is no COM library to start.
#include "platform/com.h"

#include "platform/shared/class_servers.h"

namespace platform {

HRESULT CoInitialize() { return S_OK; }

void CoUninitialize() {}

HRESULT CoGetClassObject(const GUID& clsid, DWORD context, std::unique_ptr<IClassFactory>& out) {
  bool found = false;
  return shared::InProcessClassObject(clsid, context, out, &found);
}

}  // namespace platform
