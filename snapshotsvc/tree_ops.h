// Whole-tree operations on host directories: cloning a tree (reflinks where
// the file system shares extents, copies elsewhere), removing a tree that may
// hold btrfs subvolumes (the toolkit's tree removal, which deletes each
// subvolume as a whole), and flushing to stable storage.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win_types.h"

namespace snapshotsvc {

struct CloneStats {
  std::uint64_t files = 0;      // regular files cloned
  std::uint64_t reflinked = 0;  // of which shared extents instead of copying
  std::uint64_t bytes = 0;      // size of the regular files
};

// Clones the directory tree at `source` into `target`, which must not exist:
// directories, regular files and symbolic links, with their modes, owners and
// times. Regular files share extents (FICLONE) where the file system allows
// it and are copied (copy_file_range) otherwise. Other file types (devices,
// pipes, sockets) are not carried. On failure a partial target is left for
// the caller to remove; the source is never changed.
HRESULT CloneTree(const std::string& source, const std::string& target,
                  CloneStats* stats = nullptr);

// Removes a file or a directory tree; btrfs subvolumes inside it (and the
// path itself, when it is one) are deleted as subvolumes. A missing path is
// success.
HRESULT RemoveTree(const std::string& path);

// The bytes that CloneTree(source, <a new folder in targetDir>) would take
// from targetDir's file system, rounded up to whole blocks: the files' data
// (nothing for files whose extents the clone would share) and a block for
// each folder and link.
HRESULT CloneCost(const std::string& source, const std::string& targetDir, std::uint64_t& bytes);

// The bytes free to the caller on the file system that holds path.
HRESULT FreeBytes(const std::string& path, std::uint64_t& bytes);

// Flushes the whole file system that holds path (syncfs).
HRESULT SyncFileSystem(const std::string& path);

bool IsOnBtrfs(const std::string& path);
// True for the root directory of a btrfs subvolume.
bool IsBtrfsSubvolume(const std::string& path);

}  // namespace snapshotsvc
