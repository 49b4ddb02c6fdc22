// Listing reports must cost the same per report for 1,000 and for 10,000
// reports in a folder. Prints the per-report cost of each size, the ratio of
// the two (near 1 when linear), and as the baseline measured in the same run
// a plain listing of the same folders that reads each entry's attributes (as
// a Windows directory listing does), with its own ratio.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/host.h"
#include "platform/registry.h"
#include "reports/report_store.h"

namespace ark {

namespace fs = std::filesystem;

namespace {

constexpr int kRounds = 7;

template <typename F>
double BestSeconds(F&& run) {
  double best = 1e9;
  for (int i = 0; i < kRounds; ++i) {
    const auto start = std::chrono::steady_clock::now();
    run();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count());
  }
  return best;
}

void Fill(const fs::path& dir, int count) {
  fs::create_directories(dir);
  for (int i = 0; i < count; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "%02d-%02d-%04d_%02d.%02d.%02d.txt", 1 + i % 12, 1 + i % 28,
                  2000 + i / 3600, (i / 60) % 24, i % 60, (i * 7) % 60);
    std::ofstream(dir / (std::string(name) + std::to_string(i))) << "report " << i << "\r\n";
  }
}

struct Result {
  double perReport;  // seconds per report, ListReports
  double perEntry;   // seconds per entry, plain directory iteration
};

Result Measure(int type, const fs::path& dir, int count) {
  ReportStore& store = TheReportStore();
  std::size_t listed = 0;
  const double list = BestSeconds([&] { listed = store.ListReports(type).size(); });
  if (listed != std::size_t(count)) std::fprintf(stderr, "listed %zu of %d\n", listed, count);
  std::size_t seen = 0;
  const double plain = BestSeconds([&] {
    seen = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
      seen += fs::status(entry.path()).type() == fs::file_type::regular ? 1 : 0;
    }
  });
  return {list / count, plain / count};
}

}  // namespace

}  // namespace ark

using namespace ark;

int main() {
  const fs::path root = fs::temp_directory_path() / ("ark-bench-reports-" + std::to_string(::getpid()));
  fs::remove_all(root);
  fs::create_directories(root / "D" / "Reports");
  platform::SetHostRoot(root.string());
  platform::RegSetString("SYSTEM\\CurrentControlSet\\Control\\Session Manager\\DOS Devices", "D:",
                         (root / "D").string());
  platform::RegSetString(kReportFolderKey, kReportFolderValue, "D:\\Reports");

  Fill(root / "D" / "Reports" / "Backup", 1000);
  Fill(root / "D" / "Reports" / "Restore", 10000);
  const Result small = Measure(Backup, root / "D" / "Reports" / "Backup", 1000);
  const Result large = Measure(Restore, root / "D" / "Reports" / "Restore", 10000);

  std::printf("ListReports   1,000 reports: %8.3f us per report (plain listing %8.3f us, x%.2f)\n",
              small.perReport * 1e6, small.perEntry * 1e6, small.perReport / small.perEntry);
  std::printf("ListReports  10,000 reports: %8.3f us per report (plain listing %8.3f us, x%.2f)\n",
              large.perReport * 1e6, large.perEntry * 1e6, large.perReport / large.perEntry);
  std::printf("per-report cost ratio 10,000 / 1,000: %.2f (linear: near 1)\n",
              large.perReport / small.perReport);
  std::printf("baseline per-entry ratio 10,000 / 1,000: %.2f; ListReports ratio relative to it: %.2f\n",
              large.perEntry / small.perEntry,
              (large.perReport / small.perReport) / (large.perEntry / small.perEntry));
  fs::remove_all(root);
  return 0;
}
