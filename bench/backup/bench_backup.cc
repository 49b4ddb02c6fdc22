// The backup engine against the plain tools doing the same work, measured in
// the same run (best of several rounds, warm caches):
//   FindDatabases over a tree of files   vs  find for the same names     (target <= 1.5x)
//   change-information capture           vs  cat of the same bytes + sync (target <= 1.5x)
//   log archiving                        vs  cp of the same logs + sync   (target <= 1.2x)
// and what flushing to the disk costs: the capture (one large database and
// many small ones) and the archiving, each against itself with every flush
// answered without touching the disk (platform::FlushOverride).
// Sizes are options with small defaults; --files 100000 is the full case.
#include <fcntl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "backup/database_backup.h"
#include "backup/log_archive.h"
#include "domino/domino_api.h"
#include "platform/files.h"
#include "platform/host.h"
#include "platform/registry.h"

namespace ark {

namespace fs = std::filesystem;

namespace {

struct Timed {
  std::function<void()> setUp;  // not timed
  std::function<void()> run;
};

double Seconds(const Timed& t) {
  t.setUp();
  const auto start = std::chrono::steady_clock::now();
  t.run();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The best of several rounds of each, the two taking turns, so that both
// meet the same state of the page cache and of the write-back.
std::pair<double, double> BestOfBoth(int rounds, const Timed& ours, const Timed& baseline) {
  double bestOurs = 1e30, bestBaseline = 1e30;
  for (int i = 0; i < rounds; ++i) {
    bestOurs = std::min(bestOurs, Seconds(ours));
    bestBaseline = std::min(bestBaseline, Seconds(baseline));
  }
  return {bestOurs, bestBaseline};
}

void Shell(const std::string& command) {
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "failed: %s\n", command.c_str());
}

std::string Quote(const std::string& path) { return "'" + path + "'"; }

// A runtime that serves one database's change information from memory (as
// a runtime holding the recorded pages does; what it costs to produce them
// is the runtime's, not the capture's), and whose archivable logs are the
// files of a host directory.
class BenchDomino : public DominoApi {
 public:
  std::string changeInfo;  // the recorded changes, held by the runtime
  std::vector<std::pair<DWORD, std::string>> logs;  // number, Windows path

  STATUS InitRuntime(int, char**) override { return 0; }
  void TermRuntime() override {}
  STATUS OpenDatabase(const char*, DBHANDLE* h) override {
    *h = 1;
    return 0;
  }
  STATUS CloseDatabase(DBHANDLE) override { return 0; }
  WORD GetErrorText(WORD, STATUS, char* b, WORD s) override {
    std::snprintf(b, s, "error");
    return 5;
  }
  STATUS GetDatabaseLogInfo(DBHANDLE, DWORD, DWORD* logged, BYTE id[16], BYTE id2[16], DWORD* ext) override {
    *logged = 1;
    std::memset(id, 1, 16);
    std::memset(id2, 2, 16);
    *ext = 1;
    return 0;
  }
  STATUS BackupStart(DBHANDLE, DWORD, DWORD* c, DWORD* a, DWORD* b) override {
    *c = 1;
    *a = *b = 0;
    return 0;
  }
  STATUS BackupStop(DBHANDLE, DWORD) override {
    changeAt_ = 0;
    return 0;
  }
  STATUS BackupEnd(DBHANDLE, DWORD, DWORD) override { return 0; }
  STATUS GetChangeInfoSize(DBHANDLE, DWORD, DWORD, DWORD* low, DWORD* high) override {
    *low = DWORD(changeInfo.size());
    *high = DWORD(std::uint64_t(changeInfo.size()) >> 32);
    return 0;
  }
  STATUS GetChangeInfo(DBHANDLE, DWORD, DWORD, void* buffer, DWORD size, DWORD* length) override {
    std::size_t n = std::min<std::size_t>(size, changeInfo.size() - changeAt_);
    std::memcpy(buffer, changeInfo.data() + changeAt_, n);
    changeAt_ += n;
    *length = DWORD(n);
    return 0;
  }
  STATUS ApplyChangeInfoStart(DWORD*, const char*, DWORD, DWORD, DWORD) override { return 1; }
  STATUS ApplyChangeInfo(DWORD, DWORD, const void*, DWORD) override { return 1; }
  STATUS ApplyChangeInfoEnd(DWORD, DWORD) override { return 1; }
  STATUS ArchiveBegin() override {
    at_ = 0;
    return 0;
  }
  STATUS ArchiveEnd() override { return 0; }
  STATUS GetFirstArchiveLog(BYTE id[16], DWORD* number, char* path) override {
    at_ = 0;
    return GetNextArchiveLog(id, number, path);
  }
  STATUS GetNextArchiveLog(BYTE id[16], DWORD* number, char* path) override {
    std::memset(id, 1, 16);
    if (at_ >= logs.size()) {
      *number = DWORD(logs.size() + 1);
      return ERR_NO_MORE_LOGS;
    }
    *number = logs[at_].first;
    std::snprintf(path, 1024, "%s", logs[at_].second.c_str());
    ++at_;
    return 0;
  }
  STATUS MarkLogArchived(const BYTE[16], DWORD) override { return 0; }
  STATUS GetLoggingStyle(DWORD* s) override {
    *s = 1;
    return 0;
  }
  STATUS GetServerName(char* b) override {
    std::snprintf(b, 256, "CN=bench/O=Org");
    return 0;
  }
  STATUS AbbreviateName(DWORD, DWORD, const char*, char* out, WORD size, WORD*) override {
    std::snprintf(out, size, "bench/Org");
    return 0;
  }
  STATUS TranslatePath(WORD, const char* path, WORD, char* out, WORD size) override {
    std::snprintf(out, size, "%s", path);
    return 0;
  }
  STATUS TextToTimeDate(void*, void*, const char**, WORD, TIMEDATE*) override { return 1; }
  STATUS RecoverDatabaseList(const char*, ArchivedLogCallbackFn, DWORD, WORD*, TIMEDATE*) override { return 1; }
  STATUS TakeDatabaseOffline(const char*, DWORD, DWORD) override { return 1; }
  STATUS BringDatabaseOnline(const char*, DWORD) override { return 1; }
  STATUS GetModifiedNoteTable(DBHANDLE, WORD, TIMEDATE, TIMEDATE*, DHANDLE*) override { return 1; }
  int ScanIdTable(DHANDLE, int, DWORD*) override { return 0; }
  STATUS DestroyIdTable(DHANDLE) override { return 1; }
  STATUS OpenNote(DBHANDLE, NOTEID, WORD, NOTEHANDLE*) override { return 1; }
  STATUS CloseNote(NOTEHANDLE) override { return 1; }
  STATUS ReadDatabaseRecord(DBHANDLE, BYTE[128]) override { return 1; }
  STATUS WriteDatabaseRecord(DBHANDLE, const BYTE[128]) override { return 1; }

 private:
  std::size_t changeAt_ = 0;
  std::size_t at_ = 0;
};

void WriteRandomFile(const fs::path& path, std::uint64_t bytes) {
  std::vector<char> block(1 << 20);
  std::uint64_t x = 88172645463325252ull;
  for (auto& c : block) {
    x ^= x << 13, x ^= x >> 7, x ^= x << 17;
    c = char(x);
  }
  std::ofstream out(path, std::ios::binary);
  for (std::uint64_t left = bytes; left > 0;) {
    std::size_t n = std::size_t(std::min<std::uint64_t>(left, block.size()));
    out.write(block.data(), std::streamsize(n));
    left -= n;
    block[0]++;
  }
}

// The cost of flushing: flushed over not flushed, for information.
void ReportFlushCost(const char* what, double flushed, double unflushed) {
  std::printf("%-34s %9.4f s   %-6s %9.4f s   ratio %5.2f (flushed / not flushed)\n", what, flushed,
              "noflsh", unflushed, flushed / unflushed);
}

// The same work with every flush answered without the disk.
std::function<void()> WithoutFlushing(std::function<void()> run) {
  return [run] {
    platform::FlushOverride none([](const std::string&) { return DWORD(ERROR_SUCCESS); });
    run();
  };
}

bool Report(const char* what, double ours, double baseline, const char* baselineName, double target) {
  const double ratio = ours / baseline;
  std::printf("%-34s %9.4f s   %-6s %9.4f s   ratio %5.2f (target <= %.1f) %s\n", what, ours, baselineName,
              baseline, ratio, target, ratio <= target ? "ok" : "SLOW");
  return ratio <= target;
}

}  // namespace

}  // namespace ark

using namespace ark;

int main(int argc, char** argv) {
  int files = 20000;
  int changeMib = 64;
  int logCount = 16;
  int logMib = 4;
  int rounds = 5;
  int smallDatabases = 500;
  int smallKib = 16;
  std::string where = fs::temp_directory_path().string();
  CLI::App app{"Backup engine benchmarks against find, cat and cp."};
  app.add_option("--files", files, "files in the data tree (100000 for the full case)")->capture_default_str();
  app.add_option("--change-mib", changeMib, "MiB of change information")->capture_default_str();
  app.add_option("--logs", logCount, "number of transaction logs to archive")->capture_default_str();
  app.add_option("--log-mib", logMib, "MiB per transaction log")->capture_default_str();
  app.add_option("--small-databases", smallDatabases, "databases of the many-small-files capture")
      ->capture_default_str();
  app.add_option("--small-kib", smallKib, "KiB of change information per small database")->capture_default_str();
  app.add_option("--rounds", rounds, "rounds per measurement (the best counts)")->capture_default_str();
  app.add_option("--dir", where, "directory to build the test host in")->capture_default_str();
  CLI11_PARSE(app, argc, argv);

  std::string pattern = (fs::path(where) / "bench-backup-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    return 2;
  }
  const fs::path root = pattern;
  fs::create_directories(root / "volumes/D/Data");
  fs::create_directories(root / "volumes/L/Ledger");
  platform::SetHostRoot(root.string());
  const std::string dos = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\DOS Devices";
  platform::RegSetString(dos, "D:", (root / "volumes/D").string());
  platform::RegSetString(dos, "L:", (root / "volumes/L").string());
  BenchDomino domino;
  SetDominoApi(&domino);
  bool allOk = true;

  // 1. FindDatabases over a tree of files, a quarter of them databases.
  {
    const fs::path data = root / "volumes/D/Data";
    const char* extensions[] = {".nsf", ".NTF", ".box", ".dat"};
    const int perDirectory = 500;
    for (int i = 0; i < files; ++i) {
      fs::path dir = data / ("d" + std::to_string(i / perDirectory / 20)) / ("s" + std::to_string(i / perDirectory));
      if (i % perDirectory == 0) fs::create_directories(dir);
      std::ofstream(dir / ("file" + std::to_string(i) + extensions[i % 4]));
    }
    std::size_t found = 0;
    const auto [ours, find] = BestOfBoth(rounds,
        {[] {}, [&] {
           std::vector<DatabaseEntry> list;
           FindDatabases("D:\\Data", list);
           found = list.size();
         }},
        {[] {}, [&] {
           Shell("find " + Quote(data.string()) +
                 " -type f \\( -iname '*.nsf' -o -iname '*.ntf' -o -iname '*.box' \\) > /dev/null");
         }});
    if (found != std::size_t(files - files / 4)) std::fprintf(stderr, "found %zu databases\n", found);
    char what[64];
    std::snprintf(what, sizeof what, "FindDatabases, %d files", files);
    allOk &= Report(what, ours, find, "find", 1.5);
  }

  // 2. Change information of one database into the ArkLedger directory.
  {
    const fs::path source = root / "change.src";
    WriteRandomFile(source, std::uint64_t(changeMib) << 20);
    {
      std::ifstream in(source, std::ios::binary);
      domino.changeInfo.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    const fs::path ledger = root / "volumes/L/Ledger/snap";
    const fs::path catTarget = root / "volumes/L/cat.out";
    const std::function<void()> capture = [&] {
      std::vector<DatabaseEntry> list(1);
      list[0].path = "D:\\Data\\big.nsf";
      std::vector<std::string> disabled;
      BackupRequest request;
      StartDatabaseBackups(request, list, disabled);
      platform::FlushBatch written;
      if (CaptureChangeInfo(request, list, "L:\\Ledger\\snap", written) != 0 ||
          FlushBackupFiles(request, written) != 0) {
        std::fprintf(stderr, "capture failed\n");
      }
    };
    const auto [ours, cat] = BestOfBoth(rounds, {[&] { fs::remove_all(ledger); }, capture},
        {[&] { fs::remove(catTarget); },
         [&] {
           Shell("cat " + Quote(source.string()) + " > " + Quote(catTarget.string()) + " && sync " +
                 Quote(catTarget.string()));
         }});
    char what[64];
    std::snprintf(what, sizeof what, "change information, %d MiB", changeMib);
    allOk &= Report(what, ours, cat, "cat", 1.5);
    // cat copies inside the kernel (copy_file_range); the capture cannot, as
    // every chunk comes through the runtime's buffer. A user-space copy in
    // chunks of the same size shows the floor for any such loop.
    const fs::path ddTarget = root / "volumes/L/dd.out";
    const auto [ours2, dd] = BestOfBoth(rounds, {[&] { fs::remove_all(ledger); }, capture},
        {[&] { fs::remove(ddTarget); }, [&] {
           Shell("dd if=" + Quote(source.string()) + " of=" + Quote(ddTarget.string()) +
                 " bs=32k conv=fsync status=none");
         }});
    Report("  vs a 32 KiB copy loop", ours2, dd, "dd", 1.5);
    const auto [flushed, unflushed] =
        BestOfBoth(rounds, {[&] { fs::remove_all(ledger); }, capture}, {[&] { fs::remove_all(ledger); }, WithoutFlushing(capture)});
    ReportFlushCost("  flushing it", flushed, unflushed);
    fs::remove(source);
  }

  // 2b. Change information of many small databases: a flush per file.
  {
    domino.changeInfo.assign(std::size_t(smallKib) << 10, 'c');
    const fs::path ledger = root / "volumes/L/Ledger/many";
    const std::function<void()> capture = [&] {
      std::vector<DatabaseEntry> list(static_cast<std::size_t>(smallDatabases));
      for (int i = 0; i < smallDatabases; ++i) {
        list[std::size_t(i)].path = "D:\\Data\\mail" + std::to_string(i / 100) + "\\db" + std::to_string(i) + ".nsf";
      }
      std::vector<std::string> disabled;
      BackupRequest request;
      StartDatabaseBackups(request, list, disabled);
      platform::FlushBatch written;
      if (CaptureChangeInfo(request, list, "L:\\Ledger\\many", written) != 0 ||
          FlushBackupFiles(request, written) != 0) {
        std::fprintf(stderr, "capture failed\n");
      }
    };
    const auto [flushed, unflushed] =
        BestOfBoth(rounds, {[&] { fs::remove_all(ledger); }, capture}, {[&] { fs::remove_all(ledger); }, WithoutFlushing(capture)});
    char what[64];
    std::snprintf(what, sizeof what, "change information, %d x %d KiB", smallDatabases, smallKib);
    ReportFlushCost(what, flushed, unflushed);
  }

  // 3. Archiving transaction logs into the ledger's logs folder.
  {
    const fs::path logDir = root / "volumes/D/Logs";
    fs::create_directories(logDir);
    for (int i = 1; i <= logCount; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "S%07d.TXN", i);
      WriteRandomFile(logDir / name, std::uint64_t(logMib) << 20);
      domino.logs.push_back({DWORD(i), std::string("D:\\Logs\\") + name});
    }
    const fs::path ledger = root / "volumes/L/Ledger/logsnap";
    // The archiving prints a line per run on standard output: silence it.
    std::fflush(stdout);
    const int savedStdout = ::dup(1);
    const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    ::dup2(devNull, 1);
    const fs::path cpTarget = root / "volumes/L/cp.out";
    const std::function<void()> freshLedger = [&] {
      fs::remove_all(ledger);
      fs::create_directories(ledger);
    };
    const std::function<void()> archive = [&] {
      BackupRequest request;
      std::vector<DWORD> archived;
      ArchiveTransactionLogs(request, "L:\\Ledger\\logsnap\\logs\\", archived);
    };
    const auto [ours, cp] = BestOfBoth(rounds, {freshLedger, archive},
        {[&] {
           fs::remove_all(cpTarget);
           fs::create_directories(cpTarget);
         },
         [&] {
           Shell("cp " + Quote(logDir.string()) + "/* " + Quote(cpTarget.string()) + "/ && sync " +
                 Quote(cpTarget.string()) + "/* " + Quote(cpTarget.string()));
         }});
    const auto [flushed, unflushed] = BestOfBoth(rounds, {freshLedger, archive}, {freshLedger, WithoutFlushing(archive)});
    std::fflush(stdout);
    ::dup2(savedStdout, 1);
    ::close(savedStdout);
    ::close(devNull);
    char what[64];
    std::snprintf(what, sizeof what, "log archiving, %d x %d MiB", logCount, logMib);
    allOk &= Report(what, ours, cp, "cp", 1.2);
    ReportFlushCost("  flushing them", flushed, unflushed);
  }

  SetDominoApi(nullptr);
  fs::remove_all(root);
  return allOk ? 0 : 1;
}
