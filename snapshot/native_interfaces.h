// The snapshot component as a COM server of the system: the method slots the
// engine calls, and the adapters that turn the component's binary objects
// into the engine's interfaces (snapshot_service.h). The methods are called
// with the platform's default calling convention, the one convention of
// 64-bit Windows (a 32-bit build would have to declare them __stdcall).
#pragma once

#include <memory>

#include "platform/com.h"

namespace ark::snapshot::native {

// Slots of IUnknown and IClassFactory.
inline constexpr int kSlotQueryInterface = 0;
inline constexpr int kSlotRelease = 2;
inline constexpr int kSlotCreateInstance = 3;
// ISnapshotService.
inline constexpr int kSlotCreateSnapShot = 3;
inline constexpr int kSlotRestoreSnapShot = 4;
inline constexpr int kSlotDeleteSnapShot = 5;
inline constexpr int kSlotRenameSnapShot = 6;
inline constexpr int kSlotEnumerateSnapShots = 9;
// IDiskService.
inline constexpr int kSlotListDisks = 12;
// ISnapshotFiles, asked of the snapshot object with QueryInterface.
inline constexpr int kSlotGetSnapshotRoot = 3;

// Takes over a class object of the system's COM (an IClassFactory pointer,
// released when out is destroyed or on failure) for the snapshot or the disk
// class: E_NOINTERFACE for another class.
HRESULT AdaptClassObject(const platform::GUID& clsid, void* nativeFactory,
                         std::unique_ptr<platform::IClassFactory>& out);

// Makes the adapters of both classes known to the platform's COM
// (platform::RegisterNativeClassAdapter).
void RegisterNativeAdapters();

}  // namespace ark::snapshot::native
