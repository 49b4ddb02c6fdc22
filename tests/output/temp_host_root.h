// A fresh host root for one test: the directory, C:\Windows, and drive D:
// mapped to <root>/D. Removed with everything in it at the end.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/host.h"
#include "platform/registry.h"

class TempHostRoot {
 public:
  explicit TempHostRoot(const std::string& tag) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    root_ = std::filesystem::temp_directory_path() /
            ("ark-" + tag + "-" + std::to_string(::getpid()) + "-" + info->name());
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_ / "Windows");
    std::filesystem::create_directories(root_ / "D");
    platform::SetHostRoot(root_.string());
    platform::RegSetString("SYSTEM\\CurrentControlSet\\Control\\Session Manager\\DOS Devices", "D:",
                           (root_ / "D").string());
  }
  ~TempHostRoot() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  TempHostRoot(const TempHostRoot&) = delete;
  TempHostRoot& operator=(const TempHostRoot&) = delete;

  const std::filesystem::path& path() const { return root_; }
  std::filesystem::path D() const { return root_ / "D"; }

 private:
  std::filesystem::path root_;
};
