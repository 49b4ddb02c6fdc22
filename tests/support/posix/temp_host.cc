#include "tests/support/temp_host.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include "platform/host.h"
#include "platform/registry.h"

TempHostRoot::TempHostRoot(const HostOptions& options) {
  std::string pattern = (std::filesystem::temp_directory_path() / "ark-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
  char resolved[PATH_MAX];
  root_ = ::realpath(pattern.c_str(), resolved) != nullptr ? resolved : pattern;
  std::filesystem::create_directories(root_ / "Windows");
  platform::SetHostRoot(root_.string());
  for (char letter : options.drives) {
    std::filesystem::create_directories(Drive(letter));
    platform::RegSetString("SYSTEM\\CurrentControlSet\\Control\\Session Manager\\DOS Devices",
                           std::string(1, letter) + ":", Drive(letter).string());
  }
  if (!options.timeZone.empty()) {
    if (const char* tz = ::getenv("TZ")) savedTimeZone_ = tz;
    timeZoneChanged_ = true;
    ::setenv("TZ", options.timeZone.c_str(), 1);
    ::tzset();
  }
  ApplySettings(options);
}

TempHostRoot::~TempHostRoot() {
  if (timeZoneChanged_) {
    savedTimeZone_.empty() ? ::unsetenv("TZ") : ::setenv("TZ", savedTimeZone_.c_str(), 1);
    ::tzset();
  }
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

std::filesystem::path TempHostRoot::D() const { return root_ / "D"; }

std::filesystem::path TempHostRoot::WindowsDirectory() const { return root_ / "Windows"; }
