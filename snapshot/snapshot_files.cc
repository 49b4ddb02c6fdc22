// A snapshot's root folder for reading, through the component's ISnapshotFiles.
#include "snapshot/snapshot_files.h"

#include <memory>

#include "platform/text.h"
#include "snapshot/component_access.h"

namespace ark {

int SnapshotRootForReading(const std::u16string& driveLetter, const std::u16string& snapshotName,
                           std::string& root, std::string& errorText) {
  root.clear();
  const std::u16string drive = snapshot::DriveOf(driveLetter);
  const std::string volume = platform::ToUpperAnsi(platform::WideToAnsi(drive));
  const std::string component = "The snapshot component of volume " + volume;

  std::unique_ptr<snapshot::ISnapshotService> service;
  HRESULT hr = snapshot::OpenSnapshotService(snapshot::kComponentContext, service, nullptr);
  if (hr != S_OK) {
    errorText = component + " cannot be reached: " + snapshot::SystemText(hr);
    return -1;
  }
  std::unique_ptr<snapshot::ISnapshotFiles> files;
  if (FAILED(platform::QueryInterface(*service, snapshot::IID_ISnapshotFiles, files))) {
    errorText = component + ": cannot show a snapshot's files; restore the whole volume instead.";
    return -1;
  }
  std::u16string wideRoot;
  hr = files->GetSnapshotRoot(drive, snapshotName, wideRoot);
  if (SUCCEEDED(hr) && wideRoot.empty()) hr = E_POINTER;
  const std::string name = platform::WideToAnsi(snapshotName);
  if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) {
    errorText = "Snapshot " + name + " of volume " + volume + " does not exist.";
  } else if (hr == snapshot::ARK_E_SNAPSHOT_NOT_REACHABLE) {
    errorText = "The snapshot store of volume " + volume +
                " is not reachable through the drive map; map a drive to its folder.";
  } else if (FAILED(hr)) {
    errorText = component + " cannot show snapshot " + name + ": " + snapshot::SystemText(hr);
  } else {
    root = platform::WideToAnsi(wideRoot);
    return 0;
  }
  return -1;
}

}  // namespace ark
