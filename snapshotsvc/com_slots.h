// The slots of the component's binary interfaces as the component lays out
// its tables (win32/com_server.cc): IUnknown first, then the methods.
#pragma once

namespace snapshotsvc::slots {

inline constexpr int kQueryInterface = 0;
inline constexpr int kAddRef = 1;
inline constexpr int kRelease = 2;
// IClassFactory.
inline constexpr int kCreateInstance = 3;
inline constexpr int kLockServer = 4;
inline constexpr int kClassFactoryCount = 5;
// ISnapshotService; slots 7 and 8 are not called and answer E_NOTIMPL.
inline constexpr int kCreateSnapShot = 3;
inline constexpr int kRestoreSnapShot = 4;
inline constexpr int kDeleteSnapShot = 5;
inline constexpr int kRenameSnapShot = 6;
inline constexpr int kEnumerateSnapShots = 9;
inline constexpr int kSnapshotServiceCount = 10;
// IDiskService: slots 3 to 11 are not called and answer E_NOTIMPL.
inline constexpr int kListDisks = 12;
inline constexpr int kDiskServiceCount = 13;
// ISnapshotFiles (ark's own, from the snapshot object's QueryInterface).
inline constexpr int kGetSnapshotRoot = 3;
inline constexpr int kSnapshotFilesCount = 4;

}  // namespace snapshotsvc::slots
