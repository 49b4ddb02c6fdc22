// A snapshot component for the restore tests: a snapshot is a directory
// under <host root>/snapshots/<name>; restoring it replaces the content of
// the drive's volume directory with a copy of it. Records every call and
// answers with a chosen result. Installed through the class registration of
// the process plus the class key in the registry, removed at its end.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/com.h"
#include "platform/host.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "snapshot/snapshot_service.h"

struct FakeVolumeSnapshotState {
  std::vector<std::string> calls;  // "Restore D name"
  HRESULT restoreResult = S_OK;
};

class FakeVolumeSnapshotService : public snapshot::ISnapshotService {
 public:
  explicit FakeVolumeSnapshotService(std::shared_ptr<FakeVolumeSnapshotState> state)
      : state_(std::move(state)) {}
  HRESULT CreateSnapShot(const snapshot::SnapshotDriveSet&, const std::u16string&) override {
    return E_NOTIMPL;
  }
  HRESULT RestoreSnapShot(const std::u16string& drive, const std::u16string& name) override {
    const std::string letter = platform::WideToAnsi(drive);
    const std::string snapshotName = platform::WideToAnsi(name);
    state_->calls.push_back("Restore " + letter + " " + snapshotName);
    if (FAILED(state_->restoreResult)) return state_->restoreResult;
    // Snapshot names compare without regard to case.
    std::filesystem::path source;
    for (const auto& entry : std::filesystem::directory_iterator(
             std::filesystem::path(platform::HostRoot()) / "snapshots")) {
      if (platform::EqualsNoCase(entry.path().filename().string(), snapshotName)) source = entry.path();
    }
    const std::string volume = platform::DriveHostDirectory(letter.empty() ? '?' : letter[0]);
    if (volume.empty() || source.empty()) return E_INVALIDARG;
    for (const auto& entry : std::filesystem::directory_iterator(volume)) {
      std::filesystem::remove_all(entry.path());
    }
    std::filesystem::copy(source, volume, std::filesystem::copy_options::recursive);
    return state_->restoreResult;
  }
  HRESULT DeleteSnapShot(const std::u16string&, const std::u16string&, std::uint8_t*) override {
    return E_NOTIMPL;
  }
  HRESULT RenameSnapShot(const std::u16string&, const std::u16string&,
                         const std::u16string&) override {
    return E_NOTIMPL;
  }
  HRESULT EnumerateSnapShots(const std::u16string&, snapshot::SnapshotList&,
                             std::uint32_t) override {
    return E_NOTIMPL;
  }

 private:
  std::shared_ptr<FakeVolumeSnapshotState> state_;
};

class FakeVolumeSnapshotFactory : public platform::IClassFactory {
 public:
  explicit FakeVolumeSnapshotFactory(std::shared_ptr<FakeVolumeSnapshotState> state)
      : state_(std::move(state)) {}
  HRESULT CreateInstance(const platform::GUID& iid,
                         std::unique_ptr<platform::IUnknown>& out) override {
    if (!(iid == snapshot::IID_ISnapshotService)) return E_NOINTERFACE;
    out = std::make_unique<FakeVolumeSnapshotService>(state_);
    return S_OK;
  }

 private:
  std::shared_ptr<FakeVolumeSnapshotState> state_;
};

class FakeVolumeSnapshotComponent {
 public:
  FakeVolumeSnapshotComponent() : state(std::make_shared<FakeVolumeSnapshotState>()) {
    platform::RegCreateKey(ClassKey());
    auto shared = state;
    platform::RegisterClassServer(snapshot::CLSID_SnapshotService,
                                  [shared](std::unique_ptr<platform::IClassFactory>& out) {
                                    out = std::make_unique<FakeVolumeSnapshotFactory>(shared);
                                    return S_OK;
                                  });
  }
  ~FakeVolumeSnapshotComponent() { platform::UnregisterClassServer(snapshot::CLSID_SnapshotService); }
  FakeVolumeSnapshotComponent(const FakeVolumeSnapshotComponent&) = delete;
  FakeVolumeSnapshotComponent& operator=(const FakeVolumeSnapshotComponent&) = delete;

  static std::string ClassKey() {
    return "SOFTWARE\\Classes\\CLSID\\" + platform::GuidToString(snapshot::CLSID_SnapshotService);
  }

  std::shared_ptr<FakeVolumeSnapshotState> state;
};
