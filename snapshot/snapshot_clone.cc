#include "snapshot/snapshot_clone.h"

#include <memory>

#include "platform/text.h"
#include "snapshot/component_access.h"
#include "snapshot/snapshot_service.h"

namespace ark {

namespace {

HRESULT OpenClones(std::unique_ptr<snapshot::ISnapshotClones>& clones) {
  std::unique_ptr<snapshot::ISnapshotService> service;
  HRESULT hr = snapshot::OpenSnapshotService(snapshot::kComponentContext, service, nullptr);
  if (hr == S_OK) hr = platform::QueryInterface(*service, snapshot::IID_ISnapshotClones, clones);
  return hr;
}

}  // namespace

SnapshotClone::~SnapshotClone() { (void)Remove(); }

SnapshotClone::Made SnapshotClone::Create(const std::u16string& driveLetter, const std::u16string& snapshotName,
                                          std::string& why) {
  root_.clear();
  drive_ = snapshot::DriveOf(driveLetter);
  const std::string volume = platform::ToUpperAnsi(platform::WideToAnsi(drive_));
  std::unique_ptr<snapshot::ISnapshotClones> clones;
  HRESULT hr = OpenClones(clones);
  if (hr == E_NOINTERFACE) {
    why = "the snapshot component of volume " + volume + " cannot clone a snapshot";
    return Made::CannotClone;
  }
  if (FAILED(hr)) {
    why = "the snapshot component of volume " + volume + " cannot be reached: " + snapshot::SystemText(hr);
    return Made::Failed;
  }
  std::u16string wideRoot;
  hr = clones->CreateClone(drive_, snapshotName, wideRoot);
  if (SUCCEEDED(hr) && wideRoot.empty()) hr = E_POINTER;
  if (hr == HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED)) {
    why = "the snapshot store of volume " + volume + " cannot clone without copying";
    return Made::CannotClone;
  }
  if (FAILED(hr)) {
    why = "the snapshot component of volume " + volume + " cannot clone snapshot " +
          platform::WideToAnsi(snapshotName) + ": " + snapshot::SystemText(hr);
    return Made::Failed;
  }
  root_ = platform::WideToAnsi(wideRoot);
  return Made::Clone;
}

void SnapshotClone::Adopt(const std::u16string& driveLetter, const std::string& root) {
  drive_ = snapshot::DriveOf(driveLetter);
  root_ = root;
}

std::string SnapshotClone::Remove() {
  if (root_.empty()) return std::string();
  std::unique_ptr<snapshot::ISnapshotClones> clones;
  HRESULT hr = OpenClones(clones);
  if (SUCCEEDED(hr)) hr = clones->DeleteClone(drive_, platform::AnsiToWide(root_));
  if (FAILED(hr)) return "the clone " + root_ + " could not be removed: " + snapshot::SystemText(hr);
  root_.clear();
  return std::string();
}

}  // namespace ark
