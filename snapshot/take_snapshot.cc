// Taking one snapshot of a drive through the snapshot component.
#include <new>

#include "snapshot/component_access.h"
#include "snapshot/snapshot_cycle.h"

int TakeSnapshot(const std::u16string& driveLetter, const std::u16string& name, int /*reserved*/,
                 std::string& errorText) {
  using snapshot::OpenFailure;
  std::unique_ptr<snapshot::ISnapshotService> service;
  OpenFailure failure = OpenFailure::None;
  const HRESULT opened = snapshot::OpenSnapshotService(snapshot::kTakeSnapshotContext, service, &failure);
  if (failure == OpenFailure::Factory) {
    errorText = "Could not create Snapshot COM Object.\r\n" + snapshot::SystemText(opened) + "\r\n";
    return -1;
  }
  if (failure == OpenFailure::Interface) {
    errorText = "Could not obtain Snapshot interface pointer.\r\n" + snapshot::SystemText(opened) + "\r\n";
    return -1;
  }

  snapshot::SnapshotDriveSet drives;
  try {
    drives.drives.resize(1);
  } catch (const std::bad_alloc&) {
    errorText =
        "The SNAPSHOT_DRIVE_INFO structure could not be allocated memory.\r\n"
        "Possible reason - Out of memory.\r\n";
    return -1;
  }
  try {
    drives.drives[0].DRIVELETTER = snapshot::DriveOf(driveLetter);
    drives.drives[0].flag = 1;
  } catch (const std::bad_alloc&) {
    errorText = "The DRIVELETTER could not be allocated memory.\r\nPossible reason - Out of memory.\r\n";
    return -1;
  }
  std::u16string snapshotName;
  try {
    snapshotName = name;
  } catch (const std::bad_alloc&) {
    errorText = "The SNAPSHOTNAME could not be allocated memory.\r\nPossible reason - Out of memory.\r\n";
    return -1;
  }

  const HRESULT hr = service->CreateSnapShot(drives, snapshotName);
  if (hr != S_OK) {
    errorText =
        "Failed to create snapshot (CreateSnapShot method failed).\r\n" + snapshot::SystemText(hr) + "\r\n";
    return -1;
  }
  return 0;
}
