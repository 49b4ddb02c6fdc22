#include "bench/compare/btrfs_image.h"

#include <unistd.h>

#include <filesystem>

#include "bench/compare/timed_command.h"

namespace ark {

namespace fs = std::filesystem;

BtrfsImage::BtrfsImage(const std::string& image, const std::string& mountPoint, std::uint64_t bytes)
    : image_(image), mount_(mountPoint) {
  if (::geteuid() != 0) {
    why_ = "needs root";
    return;
  }
  fs::create_directories(mountPoint);
  if (Shell("truncate -s " + std::to_string(bytes) + " " + Quote(image) + " && mkfs.btrfs -q -f " + Quote(image) +
            " >/dev/null 2>&1 && mount -o loop " + Quote(image) + " " + Quote(mountPoint)) != 0) {
    why_ = "no loop device or btrfs support";
    std::error_code ignored;
    fs::remove(image, ignored);
    return;
  }
  mounted_ = true;
}

BtrfsImage::~BtrfsImage() {
  if (mounted_) Shell("umount " + Quote(mount_));
  std::error_code ignored;
  fs::remove(image_, ignored);
}

}  // namespace ark
