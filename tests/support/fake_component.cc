// The in-memory snapshot component of the tests.
#include "tests/support/fake_component.h"

#include <algorithm>

#include "platform/host.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace {

std::string A(const std::u16string& text) { return platform::WideToAnsi(text); }

// An object of the fake: shares its state and counts itself among the live ones.
template <typename Interface, int FakeComponentState::*live>
class Live : public Interface {
 public:
  explicit Live(std::shared_ptr<FakeComponentState> state) : state_(std::move(state)) { ++((*state_).*live); }
  ~Live() override { --((*state_).*live); }

 protected:
  std::shared_ptr<FakeComponentState> state_;
};

class FakeSnapshotService : public Live<ark::snapshot::ISnapshotService, &FakeComponentState::liveInterfaces> {
 public:
  using Live::Live;

  HRESULT CreateSnapShot(const ark::snapshot::SnapshotDriveSet& set, const std::u16string& name) override {
    if (set.drives.size() != 1 || set.drives[0].DRIVELETTER.size() != 1 || set.drives[0].flag != 1) {
      state_->calls.push_back("Create <bad drive set>");
      return E_INVALIDARG;
    }
    const char16_t drive = set.drives[0].DRIVELETTER[0];
    state_->calls.push_back("Create " + A(set.drives[0].DRIVELETTER) + " " + A(name));
    if (state_->onCreate) state_->onCreate(A(name));
    if (state_->createResult != S_OK) return state_->createResult;
    auto& volume = state_->volumes[drive];
    volume.insert(volume.begin(), FakeSnapshot{name, state_->nextCreation});
    state_->nextCreation = U64ToFileTime(FileTimeToU64(state_->nextCreation) + 10000000ull * 3600);
    return S_OK;
  }
  HRESULT RestoreSnapShot(const std::u16string& drive, const std::u16string& name) override {
    state_->calls.push_back("Restore " + A(drive) + " " + A(name));
    if (state_->restoreResult != S_OK) {
      if (!state_->restoreDescription.empty()) platform::SetErrorDescription(state_->restoreDescription);
      return state_->restoreResult;
    }
    if (!state_->restoreFrom.empty()) return RestoreByCopy(drive, name);
    return Find(drive, name) != nullptr ? S_OK : HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  }
  HRESULT DeleteSnapShot(const std::u16string& drive, const std::u16string& name,
                         std::uint8_t* flag) override {
    state_->calls.push_back("Delete " + A(drive) + " " + A(name));
    if (flag == nullptr || drive.size() != 1) return E_POINTER;
    if (std::find(state_->undeletable.begin(), state_->undeletable.end(), A(name)) != state_->undeletable.end()) {
      return state_->deleteResult;
    }
    std::erase_if(state_->volumes[drive[0]], [&](const FakeSnapshot& s) { return s.name == name; });
    return S_OK;
  }
  HRESULT RenameSnapShot(const std::u16string& drive, const std::u16string& oldName,
                         const std::u16string& newName) override {
    state_->calls.push_back("Rename " + A(drive) + " " + A(oldName) + " -> " + A(newName));
    if (state_->renameResult != S_OK) return state_->renameResult;
    FakeSnapshot* snapshot = Find(drive, oldName);
    if (snapshot == nullptr) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    if (Find(drive, newName) != nullptr) return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
    snapshot->name = newName;
    return S_OK;
  }
  // A storage's component: the specified interfaces and nothing of ark's own.
  HRESULT QueryInterface(const platform::GUID& iid, std::unique_ptr<platform::IUnknown>& out) override {
    state_->calls.push_back("QueryInterface " + platform::GuidToString(iid));
    out.reset();
    return E_NOINTERFACE;
  }
  HRESULT EnumerateSnapShots(const std::u16string& drive, ark::snapshot::SnapshotList& list,
                             std::uint32_t one) override {
    state_->calls.push_back("Enumerate " + A(drive));
    if (one != 1 || drive.size() != 1) return E_INVALIDARG;
    ++state_->enumerations;
    if (state_->enumerateResult != S_OK &&
        (state_->failingEnumeration == 0 || state_->enumerations == state_->failingEnumeration)) {
      return state_->enumerateResult;
    }
    list.entries.clear();
    for (const FakeSnapshot& s : state_->volumes[drive[0]]) {
      ark::snapshot::SnapshotInfo info;
      info.name = s.name;
      info.creationTime = s.created;
      list.entries.push_back(info);
    }
    return S_OK;
  }

 private:
  HRESULT RestoreByCopy(const std::u16string& drive, const std::u16string& name) {
    namespace fs = std::filesystem;
    fs::path source;
    for (const auto& entry : fs::directory_iterator(state_->restoreFrom)) {
      if (platform::EqualsNoCase(entry.path().filename().string(), A(name))) source = entry.path();
    }
    const std::string volume = drive.size() == 1 ? platform::DriveHostDirectory(char(drive[0])) : "";
    if (volume.empty() || source.empty()) return E_INVALIDARG;
    for (const auto& entry : fs::directory_iterator(volume)) fs::remove_all(entry.path());
    fs::copy(source, volume, fs::copy_options::recursive);
    return S_OK;
  }
  FakeSnapshot* Find(const std::u16string& drive, const std::u16string& name) {
    if (drive.size() != 1) return nullptr;
    for (FakeSnapshot& s : state_->volumes[drive[0]]) {
      if (s.name == name) return &s;
    }
    return nullptr;
  }
};

class FakeDiskService : public Live<ark::snapshot::IDiskService, &FakeComponentState::liveInterfaces> {
 public:
  using Live::Live;
  HRESULT ListDisks(std::vector<ark::snapshot::DiskInfo>& disks) override {
    state_->calls.push_back("ListDisks");
    if (state_->listDisksResult != S_OK) return state_->listDisksResult;
    disks = state_->disks;
    return S_OK;
  }
};

class FakeFactory : public Live<platform::IClassFactory, &FakeComponentState::liveFactories> {
 public:
  using Live::Live;
  HRESULT CreateInstance(const platform::GUID& iid, std::unique_ptr<platform::IUnknown>& out) override {
    if (state_->instanceResult != S_OK) return state_->instanceResult;
    if (iid == ark::snapshot::IID_ISnapshotService) {
      out = std::make_unique<FakeSnapshotService>(state_);
    } else if (iid == ark::snapshot::IID_IDiskService) {
      out = std::make_unique<FakeDiskService>(state_);
    } else {
      return E_NOINTERFACE;
    }
    return S_OK;
  }
};

std::string ClassKey(const platform::GUID& clsid) {
  return "SOFTWARE\\Classes\\CLSID\\" + platform::GuidToString(clsid);
}

}  // namespace

void FakeComponentState::Add(char16_t drive, const std::string& name, FILETIME created) {
  volumes[drive].push_back(FakeSnapshot{platform::AnsiToWide(name), created});
}

std::vector<std::string> FakeComponentState::Names(char16_t drive) const {
  std::vector<std::string> names;
  auto it = volumes.find(drive);
  if (it != volumes.end()) {
    for (const FakeSnapshot& s : it->second) names.push_back(A(s.name));
  }
  return names;
}

std::vector<std::string> FakeComponentState::CallsStartingWith(const std::string& prefix) const {
  std::vector<std::string> found;
  std::copy_if(calls.begin(), calls.end(), std::back_inserter(found),
               [&](const std::string& call) { return call.rfind(prefix, 0) == 0; });
  return found;
}

FakeComponent::FakeComponent(bool installed) : state_(std::make_shared<FakeComponentState>()) {
  for (const platform::GUID* clsid : {&ark::snapshot::CLSID_SnapshotService, &ark::snapshot::CLSID_DiskService}) {
    std::shared_ptr<FakeComponentState> state = state_;
    platform::RegisterClassServer(*clsid, [state](std::unique_ptr<platform::IClassFactory>& out) {
      out = std::make_unique<FakeFactory>(state);
      return S_OK;
    });
  }
  if (installed) Install();
}

FakeComponent::~FakeComponent() {
  platform::UnregisterClassServer(ark::snapshot::CLSID_SnapshotService);
  platform::UnregisterClassServer(ark::snapshot::CLSID_DiskService);
}

void FakeComponent::Install() {
  platform::RegSetString(ClassKey(ark::snapshot::CLSID_SnapshotService), "", "ark test snapshot component");
  platform::RegSetString(ClassKey(ark::snapshot::CLSID_DiskService), "", "ark test disk component");
}

void FakeComponent::Uninstall() {
  platform::RegDeleteKeyTree(ClassKey(ark::snapshot::CLSID_SnapshotService));
  platform::RegDeleteKeyTree(ClassKey(ark::snapshot::CLSID_DiskService));
}
