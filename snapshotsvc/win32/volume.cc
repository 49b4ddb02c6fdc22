// Volumes on Windows: a drive is the machine's own (its root "X:\"), and
// snapshots are kept in the SnapshotStore, which must lie on another drive.
// A restore copies the snapshot's tree onto the drive beside its content
// (".ark-restore-"), then, under the volume's freeze, moves the drive's
// entries aside (".ark-old-") and the copied ones in, each move a rename on
// the one volume; when a move fails, every entry moved so far goes back, so
// the drive holds either the snapshot's tree or its own.
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

HRESULT FromCode(DWORD code) { return code == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(code); }

// The entries of dir whose names are not in skip.
HRESULT Entries(const std::string& dir, const std::vector<std::string>& skip, std::vector<std::string>& out) {
  std::vector<platform::DirectoryName> names;
  if (HRESULT hr = FromCode(platform::ListDirectoryNames(dir, names)); FAILED(hr)) return hr;
  out.clear();
  for (const platform::DirectoryName& entry : names) {
    bool skipped = false;
    for (const std::string& s : skip) skipped = skipped || platform::EqualsNoCase(entry.name, s);
    if (!skipped) out.push_back(entry.name);
  }
  return S_OK;
}

// Moves the named entries from one folder to another; on a failure moves back
// those already moved and returns the failure.
HRESULT MoveAll(const std::string& from, const std::string& to, const std::vector<std::string>& names) {
  for (std::size_t i = 0; i < names.size(); ++i) {
    const DWORD err = platform::MoveFile(JoinHostPath(from, names[i]), JoinHostPath(to, names[i]));
    if (err != ERROR_SUCCESS) {
      while (i-- > 0) platform::MoveFile(JoinHostPath(to, names[i]), JoinHostPath(from, names[i]));
      return HRESULT_FROM_WIN32(err);
    }
  }
  return S_OK;
}

std::string LastName(const std::string& path) {
  std::string parent, name;
  platform::kit::SplitPath(path, parent, name);
  return name;
}

class UnsupportedBackend : public VolumeBackend {
 public:
  Backend kind() const override { return Backend::Btrfs; }
  HRESULT CheckVolume(const std::string&, const std::string&) const override { return E_NOTIMPL; }
  HRESULT Capture(const std::string&, const std::string&) const override { return E_NOTIMPL; }
  HRESULT MakeWritableCopy(const std::string&, const std::string&) const override { return E_NOTIMPL; }
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
  // StagingPath() and SetAsidePath() then name folders at the drive's root.
  target.parentDir = root.substr(0, 2);
  target.baseName.clear();
  target.storeRoot = JoinHostPath(config.snapshotStore, std::string(1, letter));
  out = std::move(target);
  return S_OK;
}

HRESULT RevertVolume(const VolumeTarget& volume, const VolumeBackend& backend, const std::string& dataPath) {
  const std::string staging = volume.StagingPath();
  const std::string aside = volume.SetAsidePath();
  const std::vector<std::string> ours = {LastName(staging), LastName(aside)};
  // What an interrupted restore left; a volume cut short between its moves
  // would need both folders, so an aside folder that holds anything is kept
  // and the restore refused.
  HRESULT hr = RemoveTree(staging);
  if (SUCCEEDED(hr) && platform::GetFileAttributes(aside) != INVALID_FILE_ATTRIBUTES) {
    std::vector<std::string> left;
    hr = Entries(aside, {}, left);
    if (SUCCEEDED(hr) && !left.empty()) return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
    if (SUCCEEDED(hr)) hr = RemoveTree(aside);
  }
  if (SUCCEEDED(hr)) hr = backend.MakeWritableCopy(dataPath, staging);
  if (FAILED(hr)) {
    (void)RemoveTree(staging);  // the volume itself was not touched
    return hr;
  }
  {
    platform::VolumeLock freeze;
    hr = FreezeVolume(freeze, volume.letter);
    std::vector<std::string> current, incoming;
    if (SUCCEEDED(hr)) hr = Entries(volume.hostDir, ours, current);
    if (SUCCEEDED(hr)) hr = Entries(staging, {}, incoming);
    if (SUCCEEDED(hr)) hr = FromCode(platform::CreateDirectory(aside));
    if (SUCCEEDED(hr)) {
      hr = MoveAll(volume.hostDir, aside, current);
      if (SUCCEEDED(hr)) {
        hr = MoveAll(staging, volume.hostDir, incoming);
        // The snapshot's tree could not be moved in whole: the drive's own
        // content goes back.
        if (FAILED(hr) && FAILED(MoveAll(aside, volume.hostDir, current))) {
          platform::OutputDebugString("snapshot component: drive " + std::string(1, volume.letter) +
                                      ": could not be put back; its content is in " + aside + "\n");
          return hr;
        }
      }
    }
  }
  // The old content and the emptied staging folder (a failure here leaves
  // them for the next restore to remove).
  (void)RemoveTree(aside);
  (void)RemoveTree(staging);
  return hr;
}

}  // namespace snapshotsvc
