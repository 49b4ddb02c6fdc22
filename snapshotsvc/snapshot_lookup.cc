#include "snapshotsvc/snapshot_lookup.h"

#include "platform/host.h"
#include "platform/text.h"
#include "snapshot/snapshot_service.h"

namespace snapshotsvc {

HRESULT FindSnapshot(const char* operation, const std::u16string& drive, const std::u16string& name,
                     FoundSnapshot& found) {
  found.config = LoadComponentConfig();
  if (found.config.FailsOn(operation)) return E_FAIL;
  if (!found.config.backendKnown) return E_UNEXPECTED;
  std::string ansiName;
  HRESULT hr = ValidateSnapshotName(name, ansiName);
  if (FAILED(hr)) return hr;
  hr = ResolveVolume(found.config, drive, found.volume);
  if (FAILED(hr)) return hr;
  return SnapshotStore(found.volume.storeRoot).Find(ansiName, found.snapshot);
}

HRESULT WindowsRoot(const std::string& hostPath, std::u16string& root) {
  std::string winPath;
  const DWORD err = platform::ToWindowsPath(hostPath, winPath);
  if (err == ERROR_PATH_NOT_FOUND) return ark::snapshot::ARK_E_SNAPSHOT_NOT_REACHABLE;
  if (err != ERROR_SUCCESS) return HRESULT_FROM_WIN32(err);
  root = platform::AnsiToWide(winPath);
  return S_OK;
}

}  // namespace snapshotsvc
