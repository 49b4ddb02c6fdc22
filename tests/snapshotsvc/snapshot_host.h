// Test scaffolding for the snapshot component: a temporary host root with a
// drive map, volumes on a plain directory, a loop-mounted btrfs image or a
// small tmpfs, and the component installed on it.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/com.h"
#include "platform/host.h"
#include "platform/registry.h"
#include "snapshot/snapshot_service.h"
#include "snapshotsvc/component_config.h"
#include "snapshotsvc/configure.h"

namespace snaptest {

namespace fs = std::filesystem;

inline const char* kDosDevices = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\DOS Devices";

inline std::string MakeTempDir(const char* tag) {
  std::string pattern = (fs::temp_directory_path() / (std::string(tag) + "-XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

inline int Run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

inline std::string RunOutput(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
  ::pclose(pipe);
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

// A file system mounted for one test; unmounted (and its loop device
// detached) by the destructor, whatever the test did.
class Mount {
 public:
  // A btrfs image of `megabytes` at image, mounted at dir. Empty result and
  // *why set when the machine does not allow it.
  static std::unique_ptr<Mount> Btrfs(const std::string& image, const std::string& dir,
                                      int megabytes, std::string* why) {
    if (::geteuid() != 0) return Refuse(why, "needs root to attach a loop device");
    if (!fs::exists("/dev/loop-control")) return Refuse(why, "no loop device support");
    if (Run("command -v mkfs.btrfs") != 0) return Refuse(why, "mkfs.btrfs is not installed");
    if (Run("truncate -s " + std::to_string(megabytes) + "M " + image) != 0 ||
        Run("mkfs.btrfs -q -f " + image) != 0) {
      return Refuse(why, "cannot make a btrfs image");
    }
    std::string device = RunOutput("losetup --find --show " + image);
    if (device.rfind("/dev/loop", 0) != 0) return Refuse(why, "no free loop device");
    auto mount = std::unique_ptr<Mount>(new Mount(dir, device));
    fs::create_directories(dir);
    if (::mount(device.c_str(), dir.c_str(), "btrfs", 0, nullptr) != 0) {
      return Refuse(why, "cannot mount the btrfs image");  // the destructor detaches
    }
    mount->mounted_ = true;
    return mount;
  }

  static std::unique_ptr<Mount> Tmpfs(const std::string& dir, int kilobytes, std::string* why) {
    if (::geteuid() != 0) return Refuse(why, "needs root to mount a tmpfs");
    fs::create_directories(dir);
    const std::string options = "size=" + std::to_string(kilobytes) + "k";
    if (::mount("tmpfs", dir.c_str(), "tmpfs", 0, options.c_str()) != 0) {
      return Refuse(why, "cannot mount a tmpfs");
    }
    auto mount = std::unique_ptr<Mount>(new Mount(dir, ""));
    mount->mounted_ = true;
    return mount;
  }

  ~Mount() {
    if (mounted_ && ::umount2(dir_.c_str(), 0) != 0) ::umount2(dir_.c_str(), MNT_DETACH);
    if (!device_.empty()) Run("losetup -d " + device_);
  }
  Mount(const Mount&) = delete;
  Mount& operator=(const Mount&) = delete;

 private:
  Mount(std::string dir, std::string device) : dir_(std::move(dir)), device_(std::move(device)) {}
  static std::unique_ptr<Mount> Refuse(std::string* why, const char* text) {
    *why = text;
    return nullptr;
  }
  std::string dir_;
  std::string device_;
  bool mounted_ = false;
};

inline void WriteFile(const std::string& path, const std::string& content) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

// Every path below dir (relative, sorted), with the content of files and
// "->target" for links: two trees are equal when their listings are.
inline std::vector<std::string> Listing(const std::string& dir) {
  std::vector<std::string> out;
  for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator();
       ++it) {
    std::string rel = fs::relative(it->path(), dir).string();
    if (it->is_symlink()) {
      out.push_back(rel + "->" + fs::read_symlink(it->path()).string());
    } else if (it->is_directory()) {
      out.push_back(rel + "/");
    } else {
      out.push_back(rel + "=" + ReadFile(it->path().string()));
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

// A host root with the component's class servers registered. The volumes
// live under `base` (a plain temporary directory, or a mount point).
class SnapshotHost {
 public:
  explicit SnapshotHost(const std::string& root) : root_(root) {
    platform::SetHostRoot(root_);
    snapshotsvc::RegisterClassServers();
  }

  // Maps the drive to hostDir and prepares it as a volume for the backend.
  void AddVolume(snapshotsvc::Backend backend, char letter, const std::string& hostDir) {
    std::string error;
    ASSERT_TRUE(snapshotsvc::PrepareVolume(backend, hostDir, &error)) << error;
    platform::RegSetString(kDosDevices, std::string(1, letter) + ":", hostDir);
  }

  void Install(snapshotsvc::Backend backend, const std::string& letters) {
    snapshotsvc::DiskConfig disk{"vol_data", "disk1", "\\\\filer1\\vol_data\\disk1",
                                 std::vector<char>(letters.begin(), letters.end())};
    std::string error;
    ASSERT_TRUE(snapshotsvc::InstallComponent(backend, {disk}, &error)) << error;
  }

  std::unique_ptr<snapshot::ISnapshotService> Service() {
    std::unique_ptr<platform::IClassFactory> factory;
    HRESULT hr = platform::CoGetClassObject(snapshot::CLSID_SnapshotService, 5, factory);
    EXPECT_EQ(hr, S_OK);
    std::unique_ptr<snapshot::ISnapshotService> service;
    if (factory) {
      EXPECT_EQ(platform::CreateInstance(*factory, snapshot::IID_ISnapshotService, service), S_OK);
    }
    return service;
  }

 private:
  std::string root_;
};

inline snapshot::SnapshotDriveSet Drives(const std::u16string& letter) {
  snapshot::SnapshotDriveSet set;
  set.drives.push_back(snapshot::SNAPSHOT_DRIVE_INFO{letter, 1});
  return set;
}

inline std::vector<std::u16string> Names(const snapshot::SnapshotList& list) {
  std::vector<std::u16string> names;
  for (const auto& entry : list.entries) names.push_back(entry.name);
  return names;
}

}  // namespace snaptest
