// Resolving the drive and snapshot name that a caller passes: which host
// directory the drive is, where its snapshots are kept, and whether a name
// can stand as a snapshot's folder name.
#pragma once

#include <string>

#include "platform/volume_freeze.h"
#include "platform/win_types.h"
#include "snapshotsvc/component_config.h"

namespace snapshotsvc {

struct VolumeTarget {
  char letter = 0;        // upper case
  std::string hostDir;    // the drive's directory, without a trailing "/"
  std::string storeRoot;  // where its snapshots are kept
  std::string parentDir;  // hostDir's parent, where restores are staged
  std::string baseName;   // hostDir's last component
  std::string StagingPath() const { return parentDir + "/.ark-restore-" + baseName; }
  std::string SetAsidePath() const { return parentDir + "/.ark-old-" + baseName; }
};

class VolumeBackend;

// E_INVALIDARG for an empty drive or one that is not a letter;
// HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND) for a drive that no configured
// disk carries, that is not mapped, or whose directory is missing.
HRESULT ResolveVolume(const ComponentConfig& config, const std::u16string& drive,
                      VolumeTarget& out);

// A snapshot name becomes a directory name: empty names, "." and "..", and
// names holding "/", "\", NUL or other control characters are refused with
// E_INVALIDARG; names longer than a file name may be with
// HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE). On success *ansi holds the
// name in the ANSI code page.
HRESULT ValidateSnapshotName(const std::u16string& name, std::string& ansi);

// The drive letter of a drive string ("d" or "D:"): E_INVALIDARG when it is
// not a letter.
HRESULT DriveLetterOf(const std::u16string& drive, char& letter);

// Takes the volume's exclusive freeze (writers wait).
HRESULT FreezeVolume(platform::VolumeLock& freeze, char letter);

// Gives the volume the content of a snapshot whose data lies at dataPath:
// success means the volume holds the snapshot's tree whole; a failure leaves
// the volume as it was. The caller holds the store's lock. POSIX: the copy
// is staged beside the volume's directory and swapped in; Windows: staged on
// the drive and moved in entry by entry under the freeze, moved back when a
// move fails.
HRESULT RevertVolume(const VolumeTarget& volume, const VolumeBackend& backend, const std::string& dataPath);

}  // namespace snapshotsvc
