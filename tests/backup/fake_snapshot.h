// A snapshot component for the backup tests: keeps snapshots as names and
// times in memory, records every call, fails on demand. Installed through
// the class registration of the process plus the class key in the registry.
#pragma once

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/com.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "snapshot/snapshot_service.h"

struct FakeStorage {
  std::vector<snapshot::SnapshotInfo> snapshots;  // newest first
  std::vector<std::string> calls;
  HRESULT createResult = S_OK;
  int enumerations = 0;
  int failEnumerationNumber = 0;  // 1-based; 0: none fails
  std::uint64_t lastCreation = 0;  // FILETIME of the last snapshot created
  std::function<void(const std::string& name)> onCreate;  // runs inside CreateSnapShot

  static FakeStorage& Get() {
    static FakeStorage storage;
    return storage;
  }
};

class FakeSnapshotService : public snapshot::ISnapshotService {
 public:
  HRESULT CreateSnapShot(const snapshot::SnapshotDriveSet& drives,
                         const std::u16string& name) override {
    FakeStorage& st = FakeStorage::Get();
    std::string drive = drives.drives.empty() ? "" : platform::WideToAnsi(drives.drives[0].DRIVELETTER);
    st.calls.push_back("Create " + drive + " " + platform::WideToAnsi(name));
    if (st.onCreate) st.onCreate(platform::WideToAnsi(name));
    if (st.createResult != S_OK) return st.createResult;
    snapshot::SnapshotInfo info;
    info.name = name;
    // A dated snapshot name holds its creation time to the second: snapshots
    // of one test are made at least a second apart, so that their names
    // never depend on how fast the test runs.
    FILETIME now;
    platform::GetSystemTimeAsFileTime(now);
    st.lastCreation = std::max<std::uint64_t>(FileTimeToU64(now), st.lastCreation + 10000000u);
    info.creationTime = U64ToFileTime(st.lastCreation);
    st.snapshots.insert(st.snapshots.begin(), info);
    return S_OK;
  }
  HRESULT RestoreSnapShot(const std::u16string&, const std::u16string&) override { return E_FAIL; }
  HRESULT DeleteSnapShot(const std::u16string&, const std::u16string& name,
                         std::uint8_t*) override {
    FakeStorage& st = FakeStorage::Get();
    st.calls.push_back("Delete " + platform::WideToAnsi(name));
    for (auto it = st.snapshots.begin(); it != st.snapshots.end(); ++it) {
      if (platform::EqualsNoCase(platform::WideToAnsi(it->name), platform::WideToAnsi(name))) {
        st.snapshots.erase(it);
        break;
      }
    }
    return S_OK;
  }
  HRESULT RenameSnapShot(const std::u16string&, const std::u16string& oldName,
                         const std::u16string& newName) override {
    FakeStorage& st = FakeStorage::Get();
    st.calls.push_back("Rename " + platform::WideToAnsi(oldName) + " " + platform::WideToAnsi(newName));
    for (auto& s : st.snapshots) {
      if (platform::EqualsNoCase(platform::WideToAnsi(s.name), platform::WideToAnsi(oldName))) {
        s.name = newName;
        return S_OK;
      }
    }
    return E_FAIL;
  }
  HRESULT EnumerateSnapShots(const std::u16string&, snapshot::SnapshotList& list,
                             std::uint32_t) override {
    FakeStorage& st = FakeStorage::Get();
    st.calls.push_back("Enumerate");
    if (++st.enumerations == st.failEnumerationNumber) return E_FAIL;
    list.entries = st.snapshots;
    return S_OK;
  }
};

class FakeSnapshotFactory : public platform::IClassFactory {
 public:
  HRESULT CreateInstance(const platform::GUID& iid, std::unique_ptr<platform::IUnknown>& out) override {
    if (!(iid == snapshot::IID_ISnapshotService)) return E_NOINTERFACE;
    out = std::make_unique<FakeSnapshotService>();
    return S_OK;
  }
};

// Registers the fake component for the current host root.
inline void InstallFakeSnapshotComponent() {
  FakeStorage::Get() = FakeStorage();
  platform::RegCreateKey("SOFTWARE\\Classes\\CLSID\\" +
                         platform::GuidToString(snapshot::CLSID_SnapshotService));
  platform::RegisterClassServer(snapshot::CLSID_SnapshotService,
                                [](std::unique_ptr<platform::IClassFactory>& out) {
                                  out = std::make_unique<FakeSnapshotFactory>();
                                  return S_OK;
                                });
}
