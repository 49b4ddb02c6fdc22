// The btrfs backend: every volume is a subvolume, a snapshot is a read-only
// subvolume snapshot, a restore starts from a writable snapshot of it.
#include <btrfsutil.h>

#include <cerrno>

#include "platform/kit/errno_map.h"
#include "snapshotsvc/tree_ops.h"
#include "snapshotsvc/volume_backend.h"

namespace snapshotsvc {
namespace {

HRESULT FromBtrfsUtil(btrfs_util_error error) {
  if (error == BTRFS_UTIL_OK) return S_OK;
  switch (error) {
    case BTRFS_UTIL_ERROR_NOT_BTRFS:
    case BTRFS_UTIL_ERROR_NOT_SUBVOLUME:
      return HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);
    case BTRFS_UTIL_ERROR_NO_MEMORY:
      return E_OUTOFMEMORY;
    default:
      return platform::kit::HresultFromErrno(errno);  // the library leaves the system's reason in errno
  }
}

class BtrfsBackend : public VolumeBackend {
 public:
  Backend kind() const override { return Backend::Btrfs; }
  HRESULT CheckVolume(const std::string& volumeDir, const std::string& storeRoot) const override {
    if (!IsBtrfsSubvolume(volumeDir)) return HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);
    return CheckStoreOutsideVolume(volumeDir, storeRoot);
  }
  HRESULT Capture(const std::string& volumeDir, const std::string& dataPath) const override {
    errno = 0;
    return FromBtrfsUtil(btrfs_util_create_snapshot(volumeDir.c_str(), dataPath.c_str(),
                                                    BTRFS_UTIL_CREATE_SNAPSHOT_READ_ONLY, nullptr,
                                                    nullptr));
  }
  HRESULT MakeWritableCopy(const std::string& dataPath, const std::string& target) const override {
    errno = 0;
    return FromBtrfsUtil(
        btrfs_util_create_snapshot(dataPath.c_str(), target.c_str(), 0, nullptr, nullptr));
  }
  // A writable snapshot shares every extent of the read-only one.
  HRESULT StagingBytes(const std::string&, const std::string&, std::uint64_t& bytes) const override {
    bytes = 0;
    return S_OK;
  }
  HRESULT RemoveData(const std::string& dataPath) const override { return RemoveTree(dataPath); }
  bool RemovalIsAtomic() const override { return true; }
};

}  // namespace

std::unique_ptr<VolumeBackend> MakeBtrfsBackend() { return std::make_unique<BtrfsBackend>(); }

}  // namespace snapshotsvc
