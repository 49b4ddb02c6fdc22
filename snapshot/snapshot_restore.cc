// Reverting a volume to one of its snapshots.
#include "snapshot/snapshot_restore.h"

#include "output/output.h"
#include "platform/com.h"
#include "snapshot/component_access.h"

namespace ark {

namespace {

constexpr std::size_t kSnapshotNameLimit = 255;

// Places the message in the request's output and in the error text.
void Record(RestoreRequest& request, std::string& errorText, const std::string& message) {
  request.output.message = message;
  errorText += message;
}

}  // namespace

int RestoreVolumeSnapshot(RestoreRequest& request, const std::u16string& driveLetter,
                          const std::u16string& snapshotName, std::string& errorText) {
  const std::u16string name = snapshotName.substr(0, kSnapshotNameLimit);
  const std::u16string drive = snapshot::DriveOf(driveLetter);

  std::unique_ptr<snapshot::ISnapshotService> service;
  snapshot::OpenFailure failure = snapshot::OpenFailure::None;
  const HRESULT opened = snapshot::OpenSnapshotService(snapshot::kComponentContext, service, &failure);
  if (failure != snapshot::OpenFailure::None) {
    const char* what = failure == snapshot::OpenFailure::Factory
                           ? "ERROR: Could not initialize COM\r\n"
                           : "ERROR: Could not create Snapshot Inteferface.\r\n";
    Record(request, errorText, what + snapshot::SystemText(opened) + "\r\n");
    Output(request.output);
    return -1;
  }

  std::string description;
  (void)platform::TakeErrorDescription(description);  // an earlier call's
  const HRESULT hr = service->RestoreSnapShot(drive, name);
  if (hr == S_OK || hr == E_HANDLE) return 0;
  // The component's own description of the failure, when it left one, after
  // the system's text.
  description.clear();
  if (platform::TakeErrorDescription(description) && !description.empty()) description += "\r\n";
  // Not written here: the restore run reports the error text.
  Record(request, errorText,
         "ERROR: Restore SnapShot failed.\r\n" + snapshot::SystemText(hr) + "\r\n" + description);
  return -1;
}

}  // namespace ark
