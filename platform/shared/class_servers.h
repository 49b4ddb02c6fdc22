// The class servers registered with the process (platform/com.h), shared by
// both implementations.
#pragma once

#include "platform/com.h"

namespace platform::shared {

// The class object from the server registered in this process for clsid:
// REGDB_E_CLASSNOTREG when the context allows neither an in-process nor a
// local server, when the class key is missing from the registry or when no
// server is registered; found tells whether a server answered.
HRESULT InProcessClassObject(const GUID& clsid, DWORD context, std::unique_ptr<IClassFactory>& out, bool* found);

}  // namespace platform::shared
