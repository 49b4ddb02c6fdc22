// The dir backend: a snapshot is a clone of the volume's tree (reflinks
// where the file system shares extents, copies elsewhere).
#include <filesystem>
#include <system_error>

#include "snapshotsvc/tree_ops.h"
#include "snapshotsvc/volume_backend.h"

namespace snapshotsvc {
namespace {

class DirBackend : public VolumeBackend {
 public:
  Backend kind() const override { return Backend::Dir; }
  HRESULT CheckVolume(const std::string& volumeDir, const std::string& storeRoot) const override {
    return CheckStoreOutsideVolume(volumeDir, storeRoot);
  }
  HRESULT Capture(const std::string& volumeDir, const std::string& dataPath) const override {
    return CloneTree(volumeDir, dataPath);
  }
  HRESULT MakeWritableCopy(const std::string& dataPath, const std::string& target) const override {
    return CloneTree(dataPath, target);
  }
  HRESULT StagingBytes(const std::string& dataPath, const std::string& targetDir,
                       std::uint64_t& bytes) const override {
    return CloneCost(dataPath, targetDir, bytes);
  }
  HRESULT RemoveData(const std::string& dataPath) const override { return RemoveTree(dataPath); }
  bool RemovalIsAtomic() const override { return false; }
};

}  // namespace

HRESULT CheckStoreOutsideVolume(const std::string& volumeDir, const std::string& storeRoot) {
  std::error_code ec;
  const auto volume = std::filesystem::weakly_canonical(volumeDir, ec);
  if (ec) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
  const auto store = std::filesystem::weakly_canonical(storeRoot, ec);
  if (ec) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
  auto v = volume.begin();
  auto s = store.begin();
  for (; v != volume.end() && s != store.end(); ++v, ++s) {
    if (v->empty()) break;  // trailing separator of the volume path
    if (*v != *s) return S_OK;
  }
  if (v == volume.end() || v->empty()) return E_INVALIDARG;  // the store is the volume or inside it
  return S_OK;
}

std::unique_ptr<VolumeBackend> MakeDirBackend() { return std::make_unique<DirBackend>(); }

std::unique_ptr<VolumeBackend> MakeBackend(Backend backend) {
  return backend == Backend::Btrfs ? MakeBtrfsBackend() : MakeDirBackend();
}

}  // namespace snapshotsvc
