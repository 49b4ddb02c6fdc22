// Snapshot creation and restore times of the snapshot component, for each
// backend and volume size, with the ratios that the component must meet:
//   - btrfs and dir-with-reflinks creation does not grow with the data:
//     time(largest volume) / time(smallest volume) <= 1.5;
//   - the dir copy fallback creates within 1.3x of `cp -a` of the same tree
//     (measured in the same run, on the same file system).
// Volumes hold a fixed number of files (--files) whose size grows with the
// volume, as a Domino data directory's databases do. Needs root (loop
// devices, mounts). Exit status 1 when a ratio is out of bounds.
#include <sys/mount.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/com.h"
#include "platform/host.h"
#include "platform/registry.h"
#include "snapshot/snapshot_service.h"
#include "snapshotsvc/configure.h"

namespace ark {

namespace fs = std::filesystem;
using snapshotsvc::Backend;

namespace {

struct Options {
  std::vector<int> sizesMiB{256, 2048};
  int files = 16;
  int repeat = 5;
  std::vector<std::string> flavors{"btrfs", "dir-reflink", "dir-copy"};
  std::string copyFs = "tmpfs";  // tmpfs | ext4: where the copy fallback runs
  std::string workDir = "/var/tmp";
};

int Shell(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str());
}

std::string ShellOutput(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
  ::pclose(pipe);
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

double Millis(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// A mounted file system for one measurement, unmounted when done.
class Mounted {
 public:
  Mounted(const std::string& dir, const std::string& kind, std::uint64_t mib) : dir_(dir) {
    fs::create_directories(dir);
    if (kind == "tmpfs") {
      const std::string options = "size=" + std::to_string(mib) + "m";
      ok_ = ::mount("tmpfs", dir.c_str(), "tmpfs", 0, options.c_str()) == 0;
      return;
    }
    image_ = dir + ".img";
    const std::string mkfs = kind == "btrfs" ? "mkfs.btrfs -q -f " : "mkfs.ext4 -q -F ";
    if (Shell("truncate -s " + std::to_string(mib) + "M " + image_) != 0 ||
        Shell(mkfs + image_) != 0) {
      return;
    }
    device_ = ShellOutput("losetup --find --show " + image_);
    if (device_.rfind("/dev/loop", 0) != 0) return;
    ok_ = ::mount(device_.c_str(), dir.c_str(), kind.c_str(), 0, nullptr) == 0;
  }
  ~Mounted() {
    if (ok_ && ::umount2(dir_.c_str(), 0) != 0) ::umount2(dir_.c_str(), MNT_DETACH);
    if (device_.rfind("/dev/loop", 0) == 0) Shell("losetup -d " + device_);
    if (!image_.empty()) fs::remove(image_);
    std::error_code ignored;
    fs::remove(dir_, ignored);
  }
  bool ok() const { return ok_; }

 private:
  std::string dir_, image_, device_;
  bool ok_ = false;
};

void FillVolume(const std::string& dir, int sizeMiB, int files) {
  std::vector<std::uint64_t> block((1 << 20) / 8);
  std::uint64_t state = 0x9E3779B97F4A7C15ull;
  const std::uint64_t perFile = (std::uint64_t(sizeMiB) << 20) / std::uint64_t(files);
  for (int i = 0; i < files; ++i) {
    const std::string sub = dir + "/Domino/Data/" + (i % 2 ? "mail" : "apps");
    fs::create_directories(sub);
    std::ofstream out(sub + "/db" + std::to_string(i) + ".nsf", std::ios::binary);
    for (std::uint64_t done = 0; done < perFile; done += block.size() * 8) {
      for (auto& word : block) {  // xorshift: incompressible, not deduplicable
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        word = state;
      }
      const std::uint64_t n = std::min<std::uint64_t>(block.size() * 8, perFile - done);
      out.write(reinterpret_cast<const char*>(block.data()), std::streamsize(n));
    }
  }
  Shell("sync");
}

struct Result {
  double createMs = 0;
  double restoreMs = 0;
  double cpMs = 0;  // dir-copy only: cp -a of the same tree
};

bool Measure(const Options& opt, const std::string& flavor, int sizeMiB, Result& result) {
  const Backend backend = flavor == "btrfs" ? Backend::Btrfs : Backend::Dir;
  const bool copy = flavor == "dir-copy";
  const std::string fsKind = copy ? opt.copyFs : "btrfs";
  // Room for the volume, a snapshot, a staged restore and (copy) the cp -a
  // baseline, each a full copy where extents are not shared.
  const std::uint64_t imageMiB = copy ? std::uint64_t(sizeMiB) * 4 + 512
                                      : std::uint64_t(sizeMiB) * 2 + 1024;
  const std::string base = opt.workDir + "/ark-bench-" + std::to_string(::getpid());
  fs::create_directories(base + "/root");
  struct RemoveBase {
    std::string dir;
    ~RemoveBase() {
      std::error_code ignored;
      fs::remove_all(dir, ignored);
    }
  } removeBase{base};  // declared before the mount: removed after unmounting
  Mounted mounted(base + "/mnt", fsKind, imageMiB);
  if (!mounted.ok()) {
    std::fprintf(stderr, "cannot mount a %s file system under %s\n", fsKind.c_str(), base.c_str());
    return false;
  }
  platform::SetHostRoot(base + "/root");
  const std::string volume = base + "/mnt/volumes/D";
  fs::create_directories(base + "/mnt/volumes");
  std::string error;
  std::vector<snapshotsvc::DiskConfig> disks(1);
  disks[0].volumeName = "vol";
  disks[0].diskName = "disk";
  disks[0].devicePath = "\\\\bench\\vol";
  disks[0].driveLetters.push_back('D');
  if (!snapshotsvc::PrepareVolume(backend, volume, &error) ||
      !snapshotsvc::InstallComponent(backend, disks, &error)) {
    std::fprintf(stderr, "setup failed: %s\n", error.c_str());
    return false;
  }
  platform::RegSetString("SYSTEM\\CurrentControlSet\\Control\\Session Manager\\DOS Devices", "D:",
                         volume);
  FillVolume(volume, sizeMiB, opt.files);

  std::unique_ptr<platform::IClassFactory> factory;
  std::unique_ptr<snapshot::ISnapshotService> service;
  if (platform::CoGetClassObject(snapshot::CLSID_SnapshotService, 5, factory) != S_OK ||
      platform::CreateInstance(*factory, snapshot::IID_ISnapshotService, service) != S_OK) {
    std::fprintf(stderr, "component not reachable\n");
    return false;
  }
  snapshot::SnapshotDriveSet drives;
  drives.drives.push_back({u"D", 1});
  std::vector<double> creates, restores, copies;
  bool ok = true;
  for (int i = 0; i < opt.repeat && ok; ++i) {
    const std::u16string name = u"bench" + std::u16string(1, char16_t(u'0' + i));
    auto t0 = std::chrono::steady_clock::now();
    ok = service->CreateSnapShot(drives, name) == S_OK;
    creates.push_back(Millis(std::chrono::steady_clock::now() - t0));
    std::uint8_t flag = 0;
    if (ok) ok = service->DeleteSnapShot(u"D", name, &flag) == S_OK;
    Shell("sync");
  }
  if (ok) ok = service->CreateSnapShot(drives, u"base") == S_OK;
  for (int i = 0; i < opt.repeat && ok; ++i) {
    std::ofstream(volume + "/Domino/Data/later.nsf") << "written after the snapshot";
    Shell("sync");
    auto t0 = std::chrono::steady_clock::now();
    ok = service->RestoreSnapShot(u"D", u"base") == S_OK;
    restores.push_back(Millis(std::chrono::steady_clock::now() - t0));
    ok = ok && !fs::exists(volume + "/Domino/Data/later.nsf");
    Shell("sync");
  }
  if (ok && copy) {
    std::uint8_t flag = 0;
    service->DeleteSnapShot(u"D", u"base", &flag);  // room for the baseline's copy
    for (int i = 0; i < opt.repeat && ok; ++i) {
      const std::string target = base + "/mnt/cp-copy";
      auto t0 = std::chrono::steady_clock::now();
      // The component makes its snapshot durable before it answers; on a
      // file system with write-back the baseline gets the same flush.
      ok = Shell("cp -a " + volume + " " + target + " && sync -f " + target) == 0;
      copies.push_back(Millis(std::chrono::steady_clock::now() - t0));
      fs::remove_all(target);
      Shell("sync");
    }
  }
  service.reset();
  factory.reset();
  if (!ok) std::fprintf(stderr, "%s %d MiB: a call failed\n", flavor.c_str(), sizeMiB);
  result.createMs = Median(creates);
  result.restoreMs = restores.empty() ? 0 : Median(restores);
  result.cpMs = copies.empty() ? 0 : Median(copies);
  return ok;
}

}  // namespace

}  // namespace ark

using namespace ark;

int main(int argc, char** argv) {
  Options opt;
  CLI::App app{"Snapshot component: creation and restore times per backend and volume size"};
  app.add_option("--sizes", opt.sizesMiB, "volume sizes in MiB (smallest and largest compared)")
      ->delimiter(',');
  app.add_option("--files", opt.files, "files per volume (fixed; their size grows)");
  app.add_option("--repeat", opt.repeat, "runs per measurement (median reported)");
  app.add_option("--backends", opt.flavors, "btrfs, dir-reflink, dir-copy")->delimiter(',');
  app.add_option("--copy-fs", opt.copyFs, "file system of the copy fallback: tmpfs or ext4");
  app.add_option("--workdir", opt.workDir, "where images and mounts are made");
  bool quick = false;
  app.add_flag("--quick", quick, "small volumes (32 and 256 MiB), 3 runs");
  CLI11_PARSE(app, argc, argv);
  if (quick) {
    opt.sizesMiB = {32, 256};
    opt.repeat = 3;
  }
  if (::geteuid() != 0) {
    std::fprintf(stderr, "bench_snapshotsvc needs root (loop devices and mounts)\n");
    return 2;
  }
  std::sort(opt.sizesMiB.begin(), opt.sizesMiB.end());
  snapshotsvc::RegisterClassServers();

  std::map<std::string, std::map<int, Result>> results;
  std::printf("%-12s %8s %12s %12s %12s\n", "backend", "MiB", "create ms", "restore ms",
              "cp -a ms");
  for (const std::string& flavor : opt.flavors) {
    for (int size : opt.sizesMiB) {
      Result r;
      if (!Measure(opt, flavor, size, r)) return 1;
      results[flavor][size] = r;
      char cp[32] = "-";
      if (r.cpMs > 0) std::snprintf(cp, sizeof cp, "%.1f", r.cpMs);
      std::printf("%-12s %8d %12.1f %12.1f %12s\n", flavor.c_str(), size, r.createMs, r.restoreMs, cp);
      std::fflush(stdout);
    }
  }

  bool pass = true;
  const int small = opt.sizesMiB.front(), large = opt.sizesMiB.back();
  std::printf("\n");
  for (const auto& [flavor, bySize] : results) {
    if (flavor == "dir-copy") {
      for (const auto& [size, r] : bySize) {
        const double ratio = r.createMs / r.cpMs;
        const bool ok = ratio <= 1.3;
        pass = pass && ok;
        std::printf("%s create vs cp -a (%s, %d MiB): %.2f (limit 1.30) %s\n", flavor.c_str(),
                    opt.copyFs.c_str(), size, ratio, ok ? "PASS" : "FAIL");
      }
    } else if (small != large) {
      const double ratio = bySize.at(large).createMs / bySize.at(small).createMs;
      const bool ok = ratio <= 1.5;
      pass = pass && ok;
      std::printf("%s create %d MiB / %d MiB: %.2f (limit 1.50) %s\n", flavor.c_str(), large, small,
                  ratio, ok ? "PASS" : "FAIL");
      std::printf("%s restore %d MiB / %d MiB: %.2f (reported)\n", flavor.c_str(), large, small,
                  bySize.at(large).restoreMs / bySize.at(small).restoreMs);
    }
  }
  return pass ? 0 : 1;
}
