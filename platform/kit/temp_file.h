// A file written under no name (O_TMPFILE) or a hidden temporary name in the
// directory of its target, and given the target's name only once complete:
// a failed or interrupted write never leaves a partial target behind.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

#include "platform/kit/unique_handle.h"

namespace platform::kit {

class TempFile {
 public:
  TempFile() = default;
  ~TempFile();  // removes the file unless committed
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  // Creates the file in the directory of target with the given permissions
  // (the umask applies). Returns an errno value (0 on success).
  int Create(const std::string& target, mode_t mode);
  int fd() const { return fd_.get(); }

  // Writes all of data; returns an errno value.
  int WriteAll(std::string_view data);

  // Gives the file the name target. noReplace: fails with EEXIST when the
  // target exists (atomically: no window in which another writer's file is
  // replaced). Returns an errno value.
  int Commit(const std::string& target, bool noReplace);

 private:
  int LinkToName(const std::string& name);

  UniqueFd fd_;
  std::string dir_;
  std::string base_;
  std::string name_;  // the temporary name while it has one
  bool committed_ = false;
};

}  // namespace platform::kit
