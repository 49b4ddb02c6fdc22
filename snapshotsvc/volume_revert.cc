// Reverting a volume to a snapshot's tree, on both platforms: the room to
// stage the copy is checked first, the copy is staged and flushed, then it
// takes the drive's place under the volume's freeze.
//
// Beside the drive's directory the two directories are swapped whole
// (SwapWithStaged). Inside a drive that is a file system of its own, the
// entries are moved, each a rename on the one file system, through three
// folders at the drive's root whose presence tells how far a run got:
//   .ark-restore-   the copy being staged (complete once .ark-old- exists)
//   .ark-old-       the drive's own entries, set aside
//   .ark-incoming-  the staged copy, renamed so once every own entry is set
//                   aside; its entries are then moved into the drive
// A run that dies is settled by the next call (SettleInterruptedRevert):
// with .ark-incoming- present the revert is finished, else the set-aside
// entries go back. Nothing is ever moved over an existing name.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/com.h"
#include "platform/debug.h"
#include "platform/kit/errno_map.h"
#include "platform/kit/file_io.h"
#include "platform/text.h"
#include "platform/volume_freeze.h"
#include "snapshotsvc/tree_ops.h"
#include "snapshotsvc/volume_backend.h"
#include "snapshotsvc/volume_target.h"

namespace snapshotsvc {
namespace {

namespace kit = platform::kit;

HRESULT FromResult(int err) { return kit::HresultFromResult(err, kit::PathRole::Directory); }

std::string LastName(const std::string& path) {
  std::string parent, name;
  kit::SplitPath(path, parent, name);
  return name;
}

void Trace(const VolumeTarget& volume, const std::string& text) {
  platform::OutputDebugString("snapshot component: drive " + std::string(1, volume.letter) + ": " + text + "\n");
}

// The entries of dir in name order (so a run moves them in a known order),
// without the restore's own folders.
HRESULT Entries(const VolumeTarget& volume, const std::string& dir, std::vector<std::string>& out) {
  std::vector<std::string> names;
  if (HRESULT hr = FromResult(kit::ListNames(dir, names)); FAILED(hr)) return hr;
  const std::string ours[] = {LastName(volume.StagingPath()), LastName(volume.SetAsidePath()),
                              LastName(volume.IncomingPath())};
  out.clear();
  for (const std::string& name : names) {
    if (std::none_of(std::begin(ours), std::end(ours),
                     [&](const std::string& own) { return platform::EqualsNoCase(name, own); })) {
      out.push_back(name);
    }
  }
  std::sort(out.begin(), out.end());
  return S_OK;
}

// Moves the named entries from one folder to another, never over an
// existing name; on a failure moves back those already moved.
HRESULT MoveAll(const std::string& from, const std::string& to, const std::vector<std::string>& names) {
  for (std::size_t i = 0; i < names.size(); ++i) {
    const int err = kit::RenameNoReplace(kit::JoinHostPath(from, names[i]), kit::JoinHostPath(to, names[i]));
    if (err != 0) {
      while (i-- > 0) (void)kit::RenameNoReplace(kit::JoinHostPath(to, names[i]), kit::JoinHostPath(from, names[i]));
      return FromResult(err);
    }
  }
  return S_OK;
}

// Every entry of one folder into another.
HRESULT MoveEverything(const VolumeTarget& volume, const std::string& from, const std::string& to) {
  std::vector<std::string> names;
  HRESULT hr = Entries(volume, from, names);
  return SUCCEEDED(hr) ? MoveAll(from, to, names) : hr;
}

// The staged copy (complete and flushed) into the drive, entry by entry; a
// failure moves every entry back.
HRESULT MoveStagedIn(const VolumeTarget& volume) {
  const std::string& root = volume.hostDir;
  const std::string staging = volume.StagingPath(), aside = volume.SetAsidePath(), incoming = volume.IncomingPath();
  std::vector<std::string> own, staged;
  HRESULT hr = Entries(volume, root, own);
  if (SUCCEEDED(hr)) hr = Entries(volume, staging, staged);
  if (SUCCEEDED(hr)) hr = FromResult(kit::MakeDirectories(aside));
  if (FAILED(hr)) return hr;
  // Folders that should be empty are removed only when they are: an entry
  // that could not be moved back stays for the next call to settle.
  hr = MoveAll(root, aside, own);  // moves back what it moved when one fails
  if (FAILED(hr)) {
    (void)kit::RemoveEmptyDirectory(aside);
    return hr;
  }
  // Every own entry set aside and that made durable before the copy is
  // marked as coming in: from here a settled run finishes the revert.
  hr = SyncFileSystem(root);
  if (SUCCEEDED(hr)) hr = FromResult(kit::RenameNoReplace(staging, incoming));
  if (FAILED(hr)) {
    if (SUCCEEDED(MoveAll(aside, root, own))) (void)kit::RemoveEmptyDirectory(aside);
    return hr;
  }
  hr = MoveAll(incoming, root, staged);
  if (FAILED(hr)) {
    // The snapshot's tree could not be moved in whole: the drive's own
    // entries go back (the copy first leaves the "coming in" mark).
    if (FAILED(FromResult(kit::RenameNoReplace(incoming, staging))) || FAILED(MoveAll(aside, root, own))) {
      Trace(volume, "could not be put back; the next call settles it from " + aside);
      return hr;
    }
    (void)kit::RemoveEmptyDirectory(aside);
    return hr;
  }
  (void)SyncFileSystem(root);
  // The old entries before the mark: while the mark stays, a settled run
  // knows the revert was complete.
  if (SUCCEEDED(RemoveTree(aside))) (void)RemoveTree(incoming);
  return S_OK;
}

std::string Megabytes(std::uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", double(bytes) / (1024.0 * 1024.0));
  return text;
}

// Refuses, before anything is copied, a drive without the room to stage the
// copy, and says how much it needs and has.
HRESULT CheckRoomToStage(const VolumeTarget& volume, const VolumeBackend& backend, const std::string& dataPath) {
  std::uint64_t needed = 0, free = 0;
  HRESULT hr = backend.StagingBytes(dataPath, volume.stageDir, needed);
  if (SUCCEEDED(hr)) hr = FreeBytes(volume.stageDir, free);
  if (FAILED(hr) || needed <= free) return hr;
  const std::string text = "The snapshot cannot be restored: staging its copy on drive " + std::string(1, volume.letter) +
                           ": needs " + Megabytes(needed) + " and " + Megabytes(free) +
                           " is free. Make room on the drive and restore again.";
  Trace(volume, text);
  platform::SetErrorDescription(text);
  return HRESULT_FROM_WIN32(ERROR_DISK_FULL);
}

}  // namespace

HRESULT SettleInterruptedRevert(const VolumeTarget& volume) {
  if (!volume.insideVolume) {
    // Beside the drive: a copy cut short, and the old tree that a swap by two
    // renames set aside when it was cut short after the copy took the drive's
    // place (one cut short before that was put back when the drive was
    // resolved); left there, it would make every later swap fail.
    HRESULT hr = RemoveTree(volume.StagingPath());
    if (SUCCEEDED(hr) && kit::IsDirectory(volume.hostDir)) hr = RemoveTree(volume.SetAsidePath());
    return hr;
  }
  const std::string staging = volume.StagingPath(), aside = volume.SetAsidePath(), incoming = volume.IncomingPath();
  const bool finishing = kit::IsDirectory(incoming), puttingBack = !finishing && kit::IsDirectory(aside);
  if (!finishing && !puttingBack) return RemoveTree(staging);  // a copy cut short, or nothing
  platform::VolumeLock freeze;
  HRESULT hr = FreezeVolume(freeze, volume.letter);
  if (SUCCEEDED(hr)) hr = MoveEverything(volume, finishing ? incoming : aside, volume.hostDir);
  if (SUCCEEDED(hr)) hr = SyncFileSystem(volume.hostDir);
  if (FAILED(hr)) {
    Trace(volume, std::string("an interrupted restore could not be ") + (finishing ? "finished" : "undone"));
    return hr;
  }
  if (finishing) {
    if (SUCCEEDED(hr = RemoveTree(aside))) hr = RemoveTree(incoming);
  } else {
    hr = FromResult(kit::RemoveEmptyDirectory(aside));
    if (SUCCEEDED(hr)) hr = RemoveTree(staging);
  }
  Trace(volume, finishing ? "finished the revert that an interrupted restore had begun"
                          : "put back the entries that an interrupted restore had set aside");
  return hr;
}

HRESULT RevertVolume(const VolumeTarget& volume, const VolumeBackend& backend, const std::string& dataPath) {
  const std::string staging = volume.StagingPath();
  HRESULT hr = SettleInterruptedRevert(volume);
  if (SUCCEEDED(hr)) hr = CheckRoomToStage(volume, backend, dataPath);
  if (FAILED(hr)) return hr;
  hr = backend.MakeWritableCopy(dataPath, staging);
  if (SUCCEEDED(hr)) hr = SyncFileSystem(staging);
  if (SUCCEEDED(hr)) {
    platform::VolumeLock freeze;
    hr = FreezeVolume(freeze, volume.letter);
    if (SUCCEEDED(hr)) hr = volume.insideVolume ? MoveStagedIn(volume) : SwapWithStaged(volume);
  }
  if (FAILED(hr)) {
    (void)RemoveTree(staging);  // the copy; the volume is as it was
    return hr;
  }
  (void)kit::SyncDirectory(volume.stageDir);
  // Beside the drive: the old tree; a failure leaves it for the next call.
  (void)RemoveTree(staging);
  return S_OK;
}

}  // namespace snapshotsvc
