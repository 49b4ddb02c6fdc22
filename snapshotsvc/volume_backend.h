// How a backend captures a volume (a mapped drive's host directory) and
// gives a snapshot's content back.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/win_types.h"
#include "snapshotsvc/configure.h"

namespace snapshotsvc {

class VolumeBackend {
 public:
  virtual ~VolumeBackend() = default;
  virtual Backend kind() const = 0;
  // Whether volumeDir can be captured by this backend into storeRoot.
  virtual HRESULT CheckVolume(const std::string& volumeDir, const std::string& storeRoot) const = 0;
  // Captures volumeDir into dataPath (which must not exist). The caller
  // holds the volume's freeze.
  virtual HRESULT Capture(const std::string& volumeDir, const std::string& dataPath) const = 0;
  // Makes a writable copy of a snapshot's data at target (which must not
  // exist), on the volume's file system.
  virtual HRESULT MakeWritableCopy(const std::string& dataPath, const std::string& target) const = 0;
  // The bytes MakeWritableCopy would take from targetDir's file system.
  virtual HRESULT StagingBytes(const std::string& dataPath, const std::string& targetDir,
                               std::uint64_t& bytes) const = 0;
  // Removes a snapshot's data. When removal is atomic, a failure leaves the
  // data whole.
  virtual HRESULT RemoveData(const std::string& dataPath) const = 0;
  virtual bool RemovalIsAtomic() const = 0;
};

std::unique_ptr<VolumeBackend> MakeDirBackend();
std::unique_ptr<VolumeBackend> MakeBtrfsBackend();
std::unique_ptr<VolumeBackend> MakeBackend(Backend backend);

// Refuses a store that lies inside the volume (it would capture itself).
HRESULT CheckStoreOutsideVolume(const std::string& volumeDir, const std::string& storeRoot);

}  // namespace snapshotsvc
