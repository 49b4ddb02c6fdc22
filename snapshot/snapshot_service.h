// The storage's snapshot component as the engine reaches it: the snapshot
// and disk classes, their interfaces and the records they exchange.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/com.h"
#include "platform/win_types.h"

namespace ark::snapshot {

// {00000001-0000-0000-C000-000000000046}
inline const platform::GUID IID_IClassFactory{0x00000001, 0x0000, 0x0000,
                                              {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// {4d19cff7-4c5d-4f02-95c8-80ede568f053}
inline const platform::GUID CLSID_SnapshotService{0x4d19cff7, 0x4c5d, 0x4f02,
                                                  {0x95, 0xc8, 0x80, 0xed, 0xe5, 0x68, 0xf0, 0x53}};
// {cc006d70-6f33-4595-9ac4-23e9efcd5633}
inline const platform::GUID IID_ISnapshotService{0xcc006d70, 0x6f33, 0x4595,
                                                 {0x9a, 0xc4, 0x23, 0xe9, 0xef, 0xcd, 0x56, 0x33}};
// {9491fb97-380c-4544-9bc5-6b7823e4d705}
inline const platform::GUID CLSID_DiskService{0x9491fb97, 0x380c, 0x4544,
                                              {0x9b, 0xc5, 0x6b, 0x78, 0x23, 0xe4, 0xd7, 0x05}};
// {d68db653-e7da-4cf0-ab2f-0bf96f501035}
inline const platform::GUID IID_IDiskService{0xd68db653, 0xe7da, 0x4cf0,
                                             {0xab, 0x2f, 0x0b, 0xf9, 0x6f, 0x50, 0x10, 0x35}};

struct SNAPSHOT_DRIVE_INFO {
  std::u16string DRIVELETTER;  // one character
  std::uint8_t flag = 1;
};

struct SnapshotDriveSet {
  std::uint8_t reserved0 = 0;
  std::uint8_t reserved1 = 0;
  std::vector<SNAPSHOT_DRIVE_INFO> drives;  // count = drives.size()
};

struct SnapshotInfo {
  std::u16string name;
  FILETIME creationTime;                   // UTC
  std::array<std::uint8_t, 28> extra{};    // not interpreted by the engine
};

struct SnapshotList {
  std::vector<SnapshotInfo> entries;  // the component's order: newest first
};

// The snapshot interface. A drive is a one-character string, the drive
// letter of a volume; names are the snapshots' names as the component keeps
// them. The caller owns the interface object (released when it is
// destroyed) and every argument; what a call hands back in an out-record is
// the caller's afterwards. Failure values are the component's HRESULTs;
// callers add the system's text for them.
class ISnapshotService : public platform::IUnknown {
 public:
  // Takes a snapshot of the drives of the set (callers give one) under name.
  // Exactly S_OK: the snapshot was taken and is complete; any other value,
  // a success code included, counts as not taken.
  virtual HRESULT CreateSnapShot(const SnapshotDriveSet& drives, const std::u16string& name) = 0;
  // Reverts the drive's volume to the named snapshot. S_OK or E_HANDLE: the
  // volume was reverted; anything else: it was not (ark's own component then
  // leaves the volume as it was; another may have changed part of it).
  virtual HRESULT RestoreSnapShot(const std::u16string& drive, const std::u16string& name) = 0;
  // Deletes the named snapshot of the drive. flag points to one byte of the
  // caller's that the component's binary interface takes and may write; its
  // meaning is the component's and the engine never reads it. The result is
  // not relied on: retention enumerates again to see whether the snapshot
  // is gone.
  virtual HRESULT DeleteSnapShot(const std::u16string& drive, const std::u16string& name,
                                 std::uint8_t* flag) = 0;
  // Renames a snapshot of the drive. Not negative: renamed.
  virtual HRESULT RenameSnapShot(const std::u16string& drive, const std::u16string& oldName,
                                 const std::u16string& newName) = 0;
  // Replaces list with the drive's snapshots in the component's order,
  // newest first. one is the value 1, which the engine always passes because
  // the component's binary interface takes it (its meaning is the
  // component's; ark's own ignores it). Not negative: the list is valid;
  // callers that build entries from it take only S_OK.
  virtual HRESULT EnumerateSnapShots(const std::u16string& drive, SnapshotList& list,
                                     std::uint32_t one) = 0;
};

struct DiskInfo {
  std::u16string diskPath;    // "/" + volume + "/" + further pieces
  std::u16string devicePath;  // "\\" + pieces separated by "\"
  std::vector<std::u16string> driveLetters;  // first character of each is a drive letter
};

// The disk interface, owned as the snapshot interface is.
class IDiskService : public platform::IUnknown {
 public:
  // Replaces disks with the host's storage disks. S_OK: the list is valid;
  // another success code: no list (callers take it as no disks); negative:
  // failure.
  virtual HRESULT ListDisks(std::vector<DiskInfo>& disks) = 0;
};

}  // namespace ark::snapshot

// ---- ark's own interface of the component: a snapshot's files ----------------

namespace ark::snapshot {

// Reached with QueryInterface from an ISnapshotService object; a storage's
// component without it still serves everything above.
// {cba27a18-70ea-493e-8502-4dfcacc4974b}
inline const platform::GUID IID_ISnapshotFiles{0xcba27a18, 0x70ea, 0x493e,
                                               {0x85, 0x02, 0x4d, 0xfc, 0xac, 0xc4, 0x97, 0x4b}};

// The snapshot exists, but its folder lies where no drive reaches, so the
// engine's file calls cannot open it (an interface-specific code).
constexpr HRESULT ARK_E_SNAPSHOT_NOT_REACHABLE = HRESULT(0x80040201u);

class ISnapshotFiles : public platform::IUnknown {
 public:
  // The root folder of snapshot `name` (matched ignoring letter case) of
  // volume `drive` ("D" or "D:"), for reading: a Windows path that the
  // engine's file calls open, holding the volume's tree as the snapshot took
  // it (btrfs backend: the read-only subvolume; dir backend: the copy). The
  // tree is the component's: the caller reads it and changes nothing in it;
  // the path stays valid until the snapshot is renamed or deleted. `root` is
  // set on S_OK only.
  // Failures: E_INVALIDARG for a drive that is not a letter or a name the
  // other calls refuse too; HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND) for a
  // drive that is not a volume of the component;
  // HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) for an unknown snapshot;
  // ARK_E_SNAPSHOT_NOT_REACHABLE when no drive reaches the snapshot's folder;
  // E_FAIL when injected ("root" in FailOn); other system errors as
  // HRESULT_FROM_WIN32 of their Win32 code.
  virtual HRESULT GetSnapshotRoot(const std::u16string& drive, const std::u16string& name,
                                  std::u16string& root) = 0;
};

}  // namespace ark::snapshot

// ---- ark's own interface of the component: writable clones for drills -----

namespace ark::snapshot {

// Reached with QueryInterface from an ISnapshotService object, like
// ISnapshotFiles; a component without it (or one that answers
// ERROR_NOT_SUPPORTED) makes a drill copy the databases instead.
// {704fda5c-beb9-4ae0-b111-3ceac93d422f}
inline const platform::GUID IID_ISnapshotClones{0x704fda5c, 0xbeb9, 0x4ae0,
                                                {0xb1, 0x11, 0x3c, 0xea, 0xc9, 0x3d, 0x42, 0x2f}};

class ISnapshotClones : public platform::IUnknown {
 public:
  // A writable clone of snapshot `name` (matched ignoring letter case) of
  // volume `drive`, beside the snapshot in its store and made without
  // copying data (btrfs backend: a writable snapshot of the snapshot; dir
  // backend: reflinks). `root` is set on S_OK only: a Windows path that the
  // engine's file calls open and write, holding the volume's tree as the
  // snapshot took it; it stays until DeleteClone removes it. The snapshot
  // itself never changes.
  // Failures: HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED) when the store's file
  // system cannot clone without copying; E_FAIL when injected ("clone" in
  // FailOn); otherwise as ISnapshotFiles::GetSnapshotRoot.
  virtual HRESULT CreateClone(const std::u16string& drive, const std::u16string& name,
                              std::u16string& root) = 0;
  // Removes a clone that CreateClone of the same drive handed out (its root
  // as given); E_INVALIDARG for any other path. A clone already gone is
  // success.
  virtual HRESULT DeleteClone(const std::u16string& drive, const std::u16string& root) = 0;
};

}  // namespace ark::snapshot
