// A fresh host root for one test, removed with all it holds at the end.
#pragma once

#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <string>

#include "platform/host.h"
#include "platform/posix/file_copy.h"

namespace platform::testing {

class TempRoot {
 public:
  TempRoot() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base ? base : "/tmp") + "/ark-platform-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
    char resolved[PATH_MAX];
    path_ = ::realpath(pattern.c_str(), resolved) != nullptr ? resolved : pattern;
    SetHostRoot(path_);
  }
  ~TempRoot() { posix::DeleteHostTree(path_); }
  TempRoot(const TempRoot&) = delete;
  TempRoot& operator=(const TempRoot&) = delete;

  const std::string& path() const { return path_; }
  // Makes a directory under the root (relative name) and returns its path.
  std::string MakeDir(const std::string& relative) const {
    const std::string dir = path_ + "/" + relative;
    ::mkdir(dir.c_str(), 0777);
    return dir;
  }

 private:
  std::string path_;
};

}  // namespace platform::testing
