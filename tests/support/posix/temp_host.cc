#include "tests/support/temp_host.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include "platform/host.h"
#include "platform/registry.h"

TempHostRoot::TempHostRoot() {
  std::string pattern = (std::filesystem::temp_directory_path() / "ark-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
  char resolved[PATH_MAX];
  root_ = ::realpath(pattern.c_str(), resolved) != nullptr ? resolved : pattern;
  std::filesystem::create_directories(root_ / "Windows");
  std::filesystem::create_directories(root_ / "D");
  platform::SetHostRoot(root_.string());
  platform::RegSetString("SYSTEM\\CurrentControlSet\\Control\\Session Manager\\DOS Devices", "D:",
                         (root_ / "D").string());
}

TempHostRoot::~TempHostRoot() {
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

std::filesystem::path TempHostRoot::D() const { return root_ / "D"; }

std::filesystem::path TempHostRoot::WindowsDirectory() const { return root_ / "Windows"; }
