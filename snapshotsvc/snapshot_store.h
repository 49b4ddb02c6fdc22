// Where the snapshots of one drive are kept, on the host file system:
//
//   <root>/lock                 held (flock) by every change of the store
//   <root>/snapshots/<Name>/    one folder per complete snapshot, named as
//       snapshot.meta           the snapshot was named (original case)
//       data/                   the captured tree (dir backend) or a
//                               read-only subvolume (btrfs backend)
//   <root>/work/                temporaries: snapshots being made or removed
//
// A snapshot appears under snapshots/ only complete (built in work/, then
// renamed); whatever an interrupted call left in work/ is never listed and
// is removed by the next change.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/win_types.h"
#include "snapshotsvc/snapshot_meta.h"
#include "platform/kit/unique_fd.h"

namespace snapshotsvc {

inline constexpr const char* kDataDirName = "data";

struct StoredSnapshot {
  std::string folder;  // the folder's name under snapshots/
  SnapshotMeta meta;
};

class SnapshotStore {
 public:
  explicit SnapshotStore(std::string root);

  const std::string& root() const { return root_; }
  std::string FolderPath(const std::string& folder) const;
  std::string DataPath(const std::string& folder) const;

  // Creates the layout and takes the store's lock, held until destruction.
  HRESULT OpenForChange();
  // Removes what interrupted calls left in work/.
  HRESULT CleanWork();
  // The complete snapshots, in no particular order; a store that was never
  // written to has none.
  HRESULT List(std::vector<StoredSnapshot>& out) const;
  // The snapshot whose name equals `name` ignoring letter case, or
  // HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND).
  HRESULT Find(std::string_view name, StoredSnapshot& out) const;
  // A new empty directory under work/.
  HRESULT MakeWorkDir(std::string& path) const;
  // Moves a finished work directory to snapshots/<folder>; never replaces
  // (HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS)).
  HRESULT Publish(const std::string& workDir, const std::string& folder) const;
  // Moves snapshots/<folder> into work/ so that it is no longer listed.
  HRESULT Withdraw(const std::string& folder, std::string& workPath) const;
  // Moves a withdrawn snapshot back (after a failed removal).
  HRESULT Restore(const std::string& workPath, const std::string& folder) const;
  HRESULT RenameFolder(const std::string& from, const std::string& to) const;

 private:
  std::string SnapshotsDir() const { return root_ + "/snapshots"; }
  std::string WorkDir() const { return root_ + "/work"; }

  std::string root_;
  platform::kit::UniqueFd lock_;
};

}  // namespace snapshotsvc
