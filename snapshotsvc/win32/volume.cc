// Volumes on Windows: a drive is the machine's own (its root "X:\"), and
// snapshots are kept in the SnapshotStore, which must lie on another drive.
// A restore copies the snapshot's tree onto the drive beside its content
// (".ark-restore-"), then, under the volume's freeze, moves the drive's
// entries aside (".ark-old-") and the copied ones in, each move a rename on
// the one volume (volume_revert.cc, shared with POSIX mount points); when a
// move fails, every entry moved so far goes back, so the drive holds either
// the snapshot's tree or its own.
#include "platform/debug.h"
#include "platform/files.h"
#include "platform/host.h"
#include "platform/kit/file_io.h"
#include "platform/text.h"
#include "snapshotsvc/configure.h"
#include "snapshotsvc/tree_ops.h"
#include "snapshotsvc/volume_backend.h"
#include "snapshotsvc/volume_target.h"

namespace snapshotsvc {
namespace {

using platform::kit::JoinHostPath;

class UnsupportedBackend : public VolumeBackend {
 public:
  Backend kind() const override { return Backend::Btrfs; }
  HRESULT CheckVolume(const std::string&, const std::string&) const override { return E_NOTIMPL; }
  HRESULT Capture(const std::string&, const std::string&) const override { return E_NOTIMPL; }
  HRESULT MakeWritableCopy(const std::string&, const std::string&) const override { return E_NOTIMPL; }
  HRESULT StagingBytes(const std::string&, const std::string&, std::uint64_t&) const override { return E_NOTIMPL; }
  HRESULT RemoveData(const std::string&) const override { return E_NOTIMPL; }
  bool RemovalIsAtomic() const override { return false; }
};

}  // namespace

// Windows has no btrfs: a configuration naming it fails every call.
std::unique_ptr<VolumeBackend> MakeBtrfsBackend() { return std::make_unique<UnsupportedBackend>(); }

bool PrepareVolume(Backend backend, const std::string& hostDir, std::string* error) {
  if (backend == Backend::Btrfs) {
    if (error != nullptr) *error = "btrfs is not available on Windows";
    return false;
  }
  if (platform::kit::MakeDirectories(hostDir) != 0) {
    if (error != nullptr) *error = "cannot create " + hostDir;
    return false;
  }
  return true;
}

HRESULT ResolveVolume(const ComponentConfig& config, const std::u16string& drive, VolumeTarget& out) {
  char letter = 0;
  if (HRESULT hr = DriveLetterOf(drive, letter); FAILED(hr)) return hr;
  if (!config.CarriesDrive(letter)) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
  const std::string root = platform::DriveHostDirectory(letter);  // "X:\"
  if (root.empty()) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
  if (config.snapshotStore.empty()) {
    platform::OutputDebugString("snapshot component: no SnapshotStore is configured for drive " +
                                std::string(1, letter) + ":\n");
    return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
  }
  VolumeTarget target;
  target.letter = letter;
  target.hostDir = root;
  // The restore's folders lie at the drive's root.
  target.insideVolume = true;
  target.stageDir = root.substr(0, 2);
  target.stageTag.clear();
  target.storeRoot = JoinHostPath(config.snapshotStore, std::string(1, letter));
  out = std::move(target);
  return S_OK;
}

// Every drive is reverted inside itself (volume_revert.cc).
HRESULT SwapWithStaged(const VolumeTarget&) { return E_NOTIMPL; }

}  // namespace snapshotsvc
