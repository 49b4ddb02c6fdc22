// Costs of the platform calls the engine leans on, each against a baseline
// measured in the same run on the same files:
//   CopyFile of a large file       vs  cp
//   FindFiles over a big folder    vs  readdir + a status call per entry
//   ToHostPath (drive map lookup)  vs  one stat() call
// Prints the best of several rounds and the ratio (ours / baseline).
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/host.h"
#include "platform/kit/file_io.h"
#include "platform/registry.h"
extern char** environ;

namespace ark {

namespace {

constexpr int kRounds = 5;

template <typename F>
double BestSeconds(F&& run, int rounds = kRounds) {
  double best = 1e9;
  for (int i = 0; i < rounds; ++i) {
    const auto start = std::chrono::steady_clock::now();
    run();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count());
  }
  return best;
}

int Run(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void Report(const char* what, double ours, double baseline, const char* unit, double scale) {
  std::printf("%-34s %10.3f %s   baseline %10.3f %s   ratio %.2f\n", what, ours * scale, unit,
              baseline * scale, unit, ours / baseline);
}

}  // namespace

}  // namespace ark

using namespace ark;

int main() {
  char pattern[] = "/tmp/ark-bench-platform-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  const std::string root = pattern;
  platform::SetHostRoot(root);
  const std::string d = root + "/D";
  mkdir(d.c_str(), 0777);
  platform::RegSetString("SYSTEM\\CurrentControlSet\\Control\\Session Manager\\DOS Devices", "D:", d);

  // 1. A 256 MiB file copied by CopyFile and by cp.
  {
    const std::string source = d + "/big.nsf";
    const int fd = open(source.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char> block(1 << 20);
    for (int i = 0; i < 256; ++i) {
      for (std::size_t k = 0; k < block.size(); k += 4096) block[k] = static_cast<char>(i + k);
      if (write(fd, block.data(), block.size()) != static_cast<ssize_t>(block.size())) return 1;
    }
    fsync(fd);
    close(fd);
    const double ours = BestSeconds([&] {
      platform::CopyFile("D:\\big.nsf", "D:\\copy.nsf", false);
    });
    const double cp = BestSeconds([&] { Run({"cp", source, d + "/cp.nsf"}); });
    Report("CopyFile 256 MiB (vs cp)", ours, cp, "ms", 1e3);
  }

  // 2. FindFiles("*.nsf") over 20,000 entries.
  {
    const std::string dir = d + "/Data";
    mkdir(dir.c_str(), 0777);
    for (int i = 0; i < 20000; ++i) {
      const std::string name = dir + "/db" + std::to_string(i) + (i % 2 ? ".nsf" : ".ntf");
      close(open(name.c_str(), O_WRONLY | O_CREAT, 0644));
    }
    std::size_t found = 0;
    const double ours = BestSeconds([&] {
      std::vector<platform::FindData> out;
      platform::FindFiles("D:\\Data\\*.nsf", out);
      found = out.size();
    });
    std::size_t seen = 0;
    const double plain = BestSeconds([&] {
      seen = 0;
      DIR* stream = opendir(dir.c_str());
      while (const dirent* e = readdir(stream)) {
        struct stat st;
        if (fstatat(dirfd(stream), e->d_name, &st, 0) == 0) ++seen;
      }
      closedir(stream);
    });
    if (found != 10000) std::fprintf(stderr, "FindFiles found %zu of 10000\n", found);
    Report("FindFiles 20,000 entries (vs readdir+stat)", ours, plain, "ms", 1e3);
  }

  // 3. The drive map lookup behind every file call.
  {
    constexpr int kCalls = 200000;
    std::string host;
    const double ours = BestSeconds([&] {
      for (int i = 0; i < kCalls; ++i) platform::ToHostPath("D:\\Data\\db1.nsf", host);
    });
    const std::string file = d + "/Data/db1.nsf";
    const double plain = BestSeconds([&] {
      struct stat st;
      for (int i = 0; i < kCalls; ++i) stat(file.c_str(), &st);
    });
    Report("ToHostPath (vs one stat call)", ours / kCalls, plain / kCalls, "us", 1e6);
  }

  platform::kit::RemoveTree(root);
  return 0;
}
