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
  // Where a restore stages its copy: beside the drive's directory (stageDir
  // its parent, stageTag its last component), or at the drive's root when
  // the drive is a file system of its own (a mount point on POSIX, every
  // drive on Windows; stageTag empty), since the drive's directory itself
  // cannot be swapped there: the entries are moved instead.
  std::string stageDir;
  std::string stageTag;
  bool insideVolume = false;
  std::string StagingPath() const { return stageDir + "/.ark-restore-" + stageTag; }
  std::string SetAsidePath() const { return stageDir + "/.ark-old-" + stageTag; }
  // Inside the volume: the staged copy once the drive's own entries are all
  // set aside, while its entries are being moved in.
  std::string IncomingPath() const { return stageDir + "/.ark-incoming-" + stageTag; }
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
// the volume as it was. The caller holds the store's lock. The copy is
// staged beside the volume's directory and swapped in, or (insideVolume)
// staged on the drive and moved in entry by entry under the freeze, moved
// back when a move fails (entry_moves.h). Before the copy is made, a drive
// without the room for it is refused with HRESULT_FROM_WIN32(ERROR_DISK_FULL)
// and a description naming the space needed and free.
HRESULT RevertVolume(const VolumeTarget& volume, const VolumeBackend& backend, const std::string& dataPath);

// What a restore that died left (a copy being staged; inside the volume,
// entries set aside or half moved in) made whole, under the freeze: a revert
// whose own entries were all set aside is finished, one cut short before
// that has them put back. Every call that captures or reverts the volume
// does this first (the caller holds the store's lock); a failure leaves the
// folders for another try, and the volume is not to be captured meanwhile.
HRESULT SettleInterruptedRevert(const VolumeTarget& volume);

// Beside the drive's directory: puts the staged tree in its place, after
// which the staging path holds the old tree (POSIX only).
HRESULT SwapWithStaged(const VolumeTarget& volume);

}  // namespace snapshotsvc
