// Class identifiers and the class servers registered with the process.
#include "platform/shared/class_servers.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/registry.h"

namespace platform {
namespace {

struct Registration {
  GUID clsid;
  ClassServer server;
};

std::mutex g_mutex;

std::vector<Registration>& Servers() {
  static std::vector<Registration> servers;
  return servers;
}

}  // namespace

bool GUID::operator==(const GUID& other) const {
  return data1 == other.data1 && data2 == other.data2 && data3 == other.data3 &&
         std::memcmp(data4, other.data4, sizeof data4) == 0;
}

std::string GuidToString(const GUID& guid) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                static_cast<unsigned>(guid.data1), guid.data2, guid.data3, guid.data4[0],
                guid.data4[1], guid.data4[2], guid.data4[3], guid.data4[4], guid.data4[5],
                guid.data4[6], guid.data4[7]);
  return text;
}

void RegisterClassServer(const GUID& clsid, ClassServer server) {
  std::lock_guard<std::mutex> lock(g_mutex);
  for (Registration& r : Servers()) {
    if (r.clsid == clsid) {
      r.server = std::move(server);
      return;
    }
  }
  Servers().push_back(Registration{clsid, std::move(server)});
}

void UnregisterClassServer(const GUID& clsid) {
  std::lock_guard<std::mutex> lock(g_mutex);
  std::erase_if(Servers(), [&](const Registration& r) { return r.clsid == clsid; });
}

namespace shared {

HRESULT InProcessClassObject(const GUID& clsid, DWORD context, std::unique_ptr<IClassFactory>& out, bool* found) {
  out.reset();
  *found = false;
  // Our servers live in the process; they answer requests that allow an
  // in-process or a local server.
  if ((context & (CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER)) == 0) return REGDB_E_CLASSNOTREG;
  if (!RegKeyExists("SOFTWARE\\Classes\\CLSID\\" + GuidToString(clsid))) return REGDB_E_CLASSNOTREG;
  ClassServer server;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (const Registration& r : Servers()) {
      if (r.clsid == clsid) server = r.server;
    }
  }
  // Called outside the lock: a server may itself register classes.
  if (!server) return REGDB_E_CLASSNOTREG;
  *found = true;
  const HRESULT hr = server(out);
  if (FAILED(hr)) {
    out.reset();
    return hr;
  }
  return out ? hr : E_UNEXPECTED;
}

}  // namespace shared
}  // namespace platform
