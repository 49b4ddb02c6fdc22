#include "tests/support/temp_host.h"

#include <gtest/gtest.h>

#include <atomic>

#include "platform/win32/windows_api.h"

namespace fs = std::filesystem;

namespace {

constexpr char kScratchMarker[] = "D:\\ark-test-scratch-drive";

// The keys that the product and its tests write.
constexpr const char* kProductKeys[] = {
    "SOFTWARE\\Lotus",
    "SOFTWARE\\Corvane",
    "SOFTWARE\\ark",
    kTestRegistryKey,
    "SOFTWARE\\Classes\\CLSID\\{4d19cff7-4c5d-4f02-95c8-80ede568f053}",
    "SOFTWARE\\Classes\\CLSID\\{9491fb97-380c-4544-9bc5-6b7823e4d705}",
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\arksvc",
};

bool OnScratchMachine() { return ::GetFileAttributesA(kScratchMarker) != INVALID_FILE_ATTRIBUTES; }

// Empties D: (but for its marker), removes ark.ini and the product's keys.
void Clean(const fs::path& windowsDirectory) {
  std::error_code ignored;
  for (const fs::directory_entry& entry : fs::directory_iterator("D:\\", ignored)) {
    if (entry.path().filename() != fs::path(kScratchMarker).filename()) fs::remove_all(entry.path(), ignored);
  }
  fs::remove(windowsDirectory / "ark.ini", ignored);
  for (const char* key : kProductKeys) platform::RegDeleteKeyTree(key);
}

}  // namespace

TempHostRoot::TempHostRoot(const HostOptions& options) {
  static std::atomic<unsigned> counter{0};
  root_ = fs::temp_directory_path() /
          ("ark-test-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(counter++));
  std::error_code ignored;
  fs::remove_all(root_, ignored);
  fs::create_directories(root_);
  if (!OnScratchMachine()) {
    ADD_FAILURE() << "D: is no scratch drive (" << kScratchMarker
                  << " is missing): these tests change the machine and run only where the test runner prepared it";
    return;
  }
  Clean(WindowsDirectory());
  if (options.drives != "D" || !options.timeZone.empty()) {
    ADD_FAILURE() << "this host offers drive D: and the machine's time zone only";
  }
  ApplySettings(options);
}

TempHostRoot::~TempHostRoot() {
  std::error_code ignored;
  fs::remove_all(root_, ignored);
  if (OnScratchMachine()) Clean(WindowsDirectory());
}

fs::path TempHostRoot::D() const { return "D:\\"; }

fs::path TempHostRoot::WindowsDirectory() const { return platform::GetWindowsDirectory(); }
