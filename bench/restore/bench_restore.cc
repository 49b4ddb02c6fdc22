// The restore's two bulk data paths against the plain tools on the same
// bytes, measured in the same run (best of several rounds):
//   - applying change information (files read in 32,768-byte blocks and
//     handed to a runtime that writes them to the target) vs `cat src > dst`;
//   - copying the saved logs into the active log directory
//     (EnsureRecoveryLogs) vs `cp` followed by the same flush (`sync -f`).
// Prints each time and the ratio; the targets are at most 1.5 and 1.2.
// Usage: bench_restore [--databases N] [--change-mib M] [--logs N] [--log-mib M] [--rounds R] [--dir DIR]
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "domino/no_runtime_api.h"
#include "domino/settings.h"
#include "output/output.h"
#include "platform/files.h"
#include "platform/host.h"
#include "platform/host_seam.h"
#include "platform/registry.h"
#include "restore/change_info_apply.h"
#include "restore/recovery_logs.h"

namespace ark {

namespace fs = std::filesystem;

namespace {

struct Options {
  int databases = 8;
  int changeMiB = 4;  // per database
  int logs = 8;
  int logMiB = 8;     // per log
  int rounds = 5;
};

template <typename F>
double BestSeconds(int rounds, F&& run) {
  double best = 1e9;
  for (int i = 0; i < rounds; ++i) {
    const auto start = std::chrono::steady_clock::now();
    run();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count());
  }
  return best;
}

void WriteBytes(const fs::path& path, std::size_t size, unsigned seed, std::size_t headerValue) {
  fs::create_directories(path.parent_path());
  std::string data(size, '\0');
  for (std::size_t i = 0; i < size; ++i) data[i] = char((i * 131 + seed) >> 3);
  if (headerValue != 0) {
    for (int i = 0; i < 4; ++i) data[i] = char(headerValue >> (8 * i));
    std::memset(data.data() + 4, 0, 4);
  }
  std::ofstream(path, std::ios::binary).write(data.data(), std::streamsize(data.size()));
}

void Shell(const std::string& command) {
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "failed: %s\n", command.c_str());
}

// A runtime whose apply writes every block to the target file, and whose
// archive-log listing names no log but says which one is current.
class FileSinkRuntime : public NoRuntimeApi {
 public:
  FileSinkRuntime() { SetDominoApi(this); }
  ~FileSinkRuntime() override { SetDominoApi(nullptr); }
  FileSinkRuntime(const FileSinkRuntime&) = delete;
  FileSinkRuntime& operator=(const FileSinkRuntime&) = delete;

  STATUS ApplyChangeInfoStart(DWORD* context, const char* target, DWORD, DWORD, DWORD) override {
    *context = next_++;
    return STATUS(files_[*context].Open(target, platform::File::Mode::CreateAlways) ? 1 : 0);
  }
  STATUS ApplyChangeInfo(DWORD context, DWORD, const void* buffer, DWORD length) override {
    return STATUS(files_[context].Write(buffer, length) ? 1 : 0);
  }
  STATUS ApplyChangeInfoEnd(DWORD context, DWORD) override {
    files_.erase(context);
    return NOERROR;
  }
  STATUS GetFirstArchiveLog(BYTE logId[16], DWORD* number, char* path) override {
    std::memset(logId, 0, 16);
    *number = currentLog;
    path[0] = '\0';
    return ERR_NO_MORE_LOGS;
  }

  DWORD currentLog = 1;

 private:
  DWORD next_ = 1;
  std::map<DWORD, platform::File> files_;
};

}  // namespace

}  // namespace ark

using namespace ark;

int main(int argc, char** argv) {
  Options options;
  fs::path base = fs::temp_directory_path();
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    if (name == "--dir") base = argv[i + 1];
    const int value = std::atoi(argv[i + 1]);
    if (name == "--databases") options.databases = value;
    else if (name == "--change-mib") options.changeMiB = value;
    else if (name == "--logs") options.logs = value;
    else if (name == "--log-mib") options.logMiB = value;
    else if (name == "--rounds") options.rounds = value;
  }

  const fs::path root = base / ("ark-bench-restore-" + std::to_string(::getpid()));
  fs::remove_all(root);
  for (const char* dir : {"Windows", "volumes/D/Data", "volumes/E/Logs", "volumes/L/ArkLedger"}) {
    fs::create_directories(root / dir);
  }
  platform::SetHostRoot(root.string());
  const std::string dosDevices = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\DOS Devices";
  platform::RegSetString(dosDevices, "D:", (root / "volumes/D").string());
  platform::RegSetString(dosDevices, "E:", (root / "volumes/E").string());
  platform::RegSetString(dosDevices, "L:", (root / "volumes/L").string());
  WriteNotesSetting("CHANGE_INFO_DIR", "L:\\ArkLedger", GetArkIniPath());
  // Every drive of the bench has the room the recovery asks for.
  struct AmpleRoom : platform::HostSeam {
    DWORD GetDiskFreeSpace(const std::string&, std::uint64_t& freeBytes) override {
      freeBytes = std::uint64_t(1) << 62;
      return ERROR_SUCCESS;
    }
  } room;
  platform::HostSeamOverride seam(room);

  FileSinkRuntime runtime;
  RestoreRequest request;
  request.server.commonName = "srv1";
  request.server.logDirectory = "E:\\Logs";
  request.server.logVolume.driveLetter = u'E';
  request.snapshot.name = "snap";
  const fs::path ledger = root / "volumes/L/ArkLedger/srv1/snap";

  // Change information: one file per database.
  const std::size_t changeBytes = std::size_t(options.changeMiB) << 20;
  std::vector<DatabaseEntry> databases;
  std::string catCommand;
  for (int i = 0; i < options.databases; ++i) {
    const std::string name = "db" + std::to_string(i);
    WriteBytes(ledger / "Data" / (name + ".nsf.dat"), changeBytes + 8, unsigned(i), changeBytes);
    DatabaseEntry entry;
    entry.path = "D:\\Data\\" + name + ".nsf";
    databases.push_back(entry);
    catCommand += "cat '" + (ledger / "Data" / (name + ".nsf.dat")).string() + "' > '" +
                  (root / "volumes/D/Data" / (name + ".cat")).string() + "'; ";
  }
  const double apply = BestSeconds(options.rounds, [&] {
    ClearReportText();
    if (ApplyChangeInformation(request, databases, "L:\\ArkLedger\\srv1\\snap", "D:") != 0) {
      std::fprintf(stderr, "apply failed: %s\n", request.output.message.c_str());
    }
  });
  const double cat = BestSeconds(options.rounds, [&] { Shell(catCommand); });

  // Saved logs: numbers 1..N in the snapshot's logs folder, log N+1 current.
  const std::size_t logBytes = std::size_t(options.logMiB) << 20;
  for (int i = 1; i <= options.logs; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "S%07d.TXN", i);
    WriteBytes(ledger / "logs" / name, logBytes, unsigned(100 + i), 0);
  }
  std::ofstream(ledger / "log_hint", std::ios::binary) << "1\r\n00000000";
  runtime.currentLog = DWORD(options.logs + 1);
  const fs::path active = root / "volumes/E/Logs";
  const double copy = BestSeconds(options.rounds, [&] {
    fs::remove_all(active);
    fs::create_directories(active);
    ClearReportText();
    std::vector<std::string> copied;
    std::string error;
    if (EnsureRecoveryLogs(request, copied, error) != 0) std::fprintf(stderr, "%s", error.c_str());
  });
  const double cp = BestSeconds(options.rounds, [&] {
    fs::remove_all(active);
    fs::create_directories(active);
    // The same flush as the restore's: one syncfs of the log directory's file system.
    Shell("cp '" + (ledger / "logs").string() + "'/S*.TXN '" + active.string() + "'/ && sync -f '" +
          active.string() + "'");
  });

  const double changeMiB = double(options.databases) * options.changeMiB;
  const double logMiB = double(options.logs) * options.logMiB;
  std::printf("apply change information %6.0f MiB: %8.4f s   cat: %8.4f s   ratio %.2f (target <= 1.50)\n",
              changeMiB, apply, cat, apply / cat);
  std::printf("copy logs to log dir     %6.0f MiB: %8.4f s   cp+sync: %8.4f s   ratio %.2f (target <= 1.20) %s\n",
              logMiB, copy, cp, copy / cp, copy <= 1.2 * cp ? "ok" : "SLOW");
  fs::remove_all(root);
  return 0;
}
