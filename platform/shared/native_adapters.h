// The adapters of classes served by COM servers of the system
// (platform/com.h, RegisterNativeClassAdapter).
#pragma once

#include "platform/com.h"

namespace platform::shared {

// Hands a binary class object of clsid to its adapter; without one, releases
// it through release and returns E_NOINTERFACE.
HRESULT AdaptNativeClassObject(const GUID& clsid, void* nativeFactory, void (*release)(void*),
                               std::unique_ptr<IClassFactory>& out);

}  // namespace platform::shared
