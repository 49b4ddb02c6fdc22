// A snapshot component for tests: keeps snapshots per drive in memory
// (newest first), records every call, fails on demand, runs a hook on
// create, restores by copying a folder onto the drive, and counts the
// interfaces and factories alive so that a leaked one shows. Like a
// storage's component it offers none of ark's own interfaces
// (QueryInterface, recorded, answers E_NOINTERFACE).
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/com.h"
#include "snapshot/snapshot_service.h"

struct FakeSnapshot {
  std::u16string name;
  FILETIME created;
};

struct FakeComponentState {
  std::map<char16_t, std::vector<FakeSnapshot>> volumes;  // newest first
  std::vector<ark::snapshot::DiskInfo> disks;
  std::vector<std::string> calls;  // "Enumerate E", "Rename E old -> new", ...

  FILETIME nextCreation;  // creation time of the next snapshot taken

  HRESULT instanceResult = S_OK;
  HRESULT enumerateResult = S_OK;
  int failingEnumeration = 0;  // 1-based: only that one answers enumerateResult; 0: all
  int enumerations = 0;
  HRESULT createResult = S_OK;
  HRESULT renameResult = S_OK;
  HRESULT restoreResult = S_OK;  // S_OK: answer from the volume's snapshots (or restoreFrom)
  std::string restoreDescription;  // the error description a failed restore leaves
  // When set, a restore replaces the drive's folder by a copy of the folder
  // restoreFrom/<name> (the name compared ignoring case; none: E_INVALIDARG).
  std::filesystem::path restoreFrom;
  std::function<void(const std::string& name)> onCreate;  // runs inside CreateSnapShot
  HRESULT listDisksResult = S_OK;
  std::vector<std::string> undeletable;  // DeleteSnapShot leaves them, answering deleteResult
  HRESULT deleteResult = S_OK;

  int liveFactories = 0;
  int liveInterfaces = 0;

  void Add(char16_t drive, const std::string& name, FILETIME created);
  std::vector<std::string> Names(char16_t drive) const;
  std::vector<std::string> CallsStartingWith(const std::string& prefix) const;
};

// Registers the fake for the snapshot and disk classes (in the process and,
// with installed true, in the host root's registry) for the object's life.
class FakeComponent {
 public:
  explicit FakeComponent(bool installed = true);
  ~FakeComponent();
  FakeComponent(const FakeComponent&) = delete;
  FakeComponent& operator=(const FakeComponent&) = delete;

  FakeComponentState& state() { return *state_; }
  void Install();
  void Uninstall();

 private:
  std::shared_ptr<FakeComponentState> state_;
};
