// File systems mounted for one test (a loop-mounted btrfs or ext4 image, a
// small tmpfs, a bind mount), and a listing of a tree to compare two trees.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/temp_host.h"

namespace snaptest {

namespace fs = std::filesystem;

// Unmounted (and its loop device detached) by the destructor, whatever the
// test did. The makers return nothing and set *why when the machine does
// not allow it.
class Mount {
 public:
  static std::unique_ptr<Mount> Btrfs(const std::string& image, const std::string& dir, int megabytes,
                                      std::string* why) {
    return Image("btrfs", "-q -f", image, dir, megabytes, why);
  }
  // Without blocks reserved for root, so that its free space is what a test left.
  static std::unique_ptr<Mount> Ext4(const std::string& image, const std::string& dir, int megabytes,
                                     std::string* why) {
    return Image("ext4", "-q -F -m 0", image, dir, megabytes, why);
  }

  // dir shows the directory from (its own mount, on from's file system).
  static std::unique_ptr<Mount> Bind(const std::string& from, const std::string& dir, std::string* why) {
    if (::geteuid() != 0) return Refuse(why, "needs root to bind-mount");
    fs::create_directories(dir);
    if (::mount(from.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr) != 0) return Refuse(why, "cannot bind-mount");
    std::unique_ptr<Mount> mount(new Mount(dir, ""));
    mount->mounted_ = true;
    return mount;
  }

  static std::unique_ptr<Mount> Tmpfs(const std::string& dir, int kilobytes, std::string* why) {
    if (::geteuid() != 0) return Refuse(why, "needs root to mount a tmpfs");
    return Mounted(std::unique_ptr<Mount>(new Mount(dir, "")), "tmpfs", "size=" + std::to_string(kilobytes) + "k", why);
  }

  ~Mount() {
    if (mounted_ && ::umount2(dir_.c_str(), 0) != 0) ::umount2(dir_.c_str(), MNT_DETACH);
    if (!device_.empty()) Run("losetup -d " + device_);
  }
  Mount(const Mount&) = delete;
  Mount& operator=(const Mount&) = delete;

  // A tmpfs: filled until about leave bytes stay free (more than it holds:
  // emptied again).
  void LeaveFree(std::uint64_t leave) {
    const std::string filler = dir_ + "/.filler";
    fs::remove(filler);
    const std::uint64_t free = fs::space(dir_).available;
    if (leave >= free) return;
    const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    EXPECT_EQ(::posix_fallocate(fd, 0, off_t(free - leave)), 0);
    ::syncfs(fd);  // btrfs counts the space as taken once committed
    ::close(fd);
  }

 private:
  Mount(std::string dir, std::string device) : dir_(std::move(dir)), device_(std::move(device)) {}
  static std::unique_ptr<Mount> Image(const std::string& type, const std::string& options, const std::string& image,
                                      const std::string& dir, int megabytes, std::string* why) {
    if (::geteuid() != 0) return Refuse(why, "needs root to attach a loop device");
    if (!fs::exists("/dev/loop-control")) return Refuse(why, "no loop device support");
    if (Run("command -v mkfs." + type) != 0) return Refuse(why, ("mkfs." + type + " is not installed").c_str());
    if (Run("truncate -s " + std::to_string(megabytes) + "M " + image) != 0 ||
        Run("mkfs." + type + " " + options + " " + image) != 0) {
      return Refuse(why, ("cannot make a " + type + " image").c_str());
    }
    const std::string device = ChildProcess("/bin/sh", {"-c", "losetup --find --show " + image}).ReadLine(60000);
    if (device.rfind("/dev/loop", 0) != 0) return Refuse(why, "no free loop device");
    return Mounted(std::unique_ptr<Mount>(new Mount(dir, device)), type.c_str(), "", why);  // a failure detaches
  }
  static std::unique_ptr<Mount> Mounted(std::unique_ptr<Mount> mount, const char* type, const std::string& options,
                                        std::string* why) {
    fs::create_directories(mount->dir_);
    const std::string source = mount->device_.empty() ? type : mount->device_;
    if (::mount(source.c_str(), mount->dir_.c_str(), type, 0, options.c_str()) != 0) {
      return Refuse(why, mount->device_.empty() ? "cannot mount a tmpfs" : "cannot mount the image");
    }
    mount->mounted_ = true;
    return mount;
  }
  static int Run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }
  static std::unique_ptr<Mount> Refuse(std::string* why, const char* text) {
    *why = text;
    return nullptr;
  }
  std::string dir_, device_;
  bool mounted_ = false;
};

// Every path below dir (relative, sorted), with the content of files and
// "->target" for links: two trees are equal when their listings are.
inline std::vector<std::string> Listing(const std::string& dir) {
  std::vector<std::string> out;
  for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator(); ++it) {
    const std::string rel = fs::relative(it->path(), dir).string();
    if (it->is_symlink()) {
      out.push_back(rel + "->" + fs::read_symlink(it->path()).string());
    } else {
      out.push_back(it->is_directory() ? rel + "/" : rel + "=" + ReadHostFile(it->path()));
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace snaptest
