// A btrfs file system on a loop-mounted image file, for the measurements
// that need one (the btrfs backend, reflinks); unmounted and removed when it
// goes. Needs root and a loop device.
#pragma once

#include <cstdint>
#include <string>

namespace ark {

class BtrfsImage {
 public:
  BtrfsImage(const std::string& image, const std::string& mountPoint, std::uint64_t bytes);
  ~BtrfsImage();
  BtrfsImage(const BtrfsImage&) = delete;
  BtrfsImage& operator=(const BtrfsImage&) = delete;
  bool mounted() const { return mounted_; }
  const std::string& why() const { return why_; }  // when not mounted

 private:
  std::string image_, mount_, why_;
  bool mounted_ = false;
};

}  // namespace ark
