// Throughput of the simulated runtime against plain file I/O of the same
// bytes, measured in the same run:
//   workload   logged transactions of 4 pages (volume lock, database lock,
//              log record, page and header writes) vs sequential writes of
//              the same page bytes in the same 16 KiB pieces;
//   capture    BackupStop (change information built from the final page
//              images) and GetChangeInfo in 32 KiB chunks vs writing and
//              reading back a file of the stream's size;
//   apply      ApplyChangeInfo of that stream onto a copy of the database vs
//              the same write and read back.
// Prints each ratio (baseline time / engine time; 1.0 = as fast as plain
// I/O). Usage: bench_dominosim [--mib N] [--dir DIR]
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "dominosim/change_stream.h"
#include "dominosim/database.h"
#include "dominosim/page_fill.h"
#include "dominosim/posix_file.h"
#include "dominosim/status.h"
#include "dominosim/txn_log.h"
#include "platform/host.h"
#include "platform/registry.h"

using namespace dominosim;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

void Check(STATUS s, const char* what) {
  if (s != 0) {
    std::fprintf(stderr, "%s: %s\n", what, StatusText(s).c_str());
    std::exit(1);
  }
}

// Writes `bytes` to a new file in pieces of `piece`, then reads it back in
// the same pieces; returns the seconds of each half.
std::pair<double, double> PlainWriteRead(const std::string& path, std::uint64_t bytes, std::size_t piece) {
  std::vector<std::uint8_t> buffer(piece);
  FillBytes(buffer.data(), buffer.size(), 42);
  auto start = Clock::now();
  {
    UniqueFd fd = OpenFile(path, O_WRONLY | O_CREAT | O_TRUNC);
    for (std::uint64_t done = 0; done < bytes; done += piece) {
      buffer[0] = std::uint8_t(done);  // not the same page every time
      WriteAll(fd.get(), buffer.data(), std::size_t(std::min<std::uint64_t>(piece, bytes - done)));
    }
  }
  double write = Seconds(start);
  start = Clock::now();
  {
    UniqueFd fd = OpenFile(path, O_RDONLY);
    while (::read(fd.get(), buffer.data(), piece) > 0) {
    }
  }
  double read = Seconds(start);
  ::unlink(path.c_str());
  return {write, read};
}

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t mib = 64;
  std::string base = fs::temp_directory_path().string();
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--mib") == 0) mib = std::strtoull(argv[i + 1], nullptr, 10);
    if (std::strcmp(argv[i], "--dir") == 0) base = argv[i + 1];
  }
  std::string root = base + "/bench_dominosim." + std::to_string(::getpid());
  fs::create_directories(root + "/volumes/D");
  platform::SetHostRoot(root);
  platform::RegSetString("SYSTEM\\CurrentControlSet\\Control\\Session Manager\\DOS Devices", "D:",
                         root + "/volumes/D");
  std::string data = root + "/volumes/D";

  // Workload: logged 4-page transactions on one database.
  LogOptions logOptions;
  logOptions.dir = root + "/volumes/D/logs";
  logOptions.extentBytes = 4 << 20;
  std::unique_ptr<TxnLog> log;
  Check(TxnLog::Open(logOptions, log), "log");
  const std::uint32_t pages = std::uint32_t(mib * 256);
  CreateParams params;
  params.dataPages = pages;
  params.logId = log->logId();
  Check(Database::Create(data + "/bench.nsf", params), "create");
  DatabaseOptions options;
  options.volumeDrive = 'D';
  options.stateDir = root + "/state";
  options.log = log.get();
  std::unique_ptr<Database> db;
  Check(Database::Open(data + "/bench.nsf", options, db), "open");

  constexpr std::uint32_t kPerTransaction = 4;
  const std::uint32_t transactions = pages / kPerTransaction;
  std::vector<std::uint8_t> payload(std::size_t(kPerTransaction) * kPagePayload);
  FillBytes(payload.data(), payload.size(), 7);
  std::mt19937 rng(1);
  DWORD context = 0;
  Check(db->BackupStart(&context), "backup start");  // so the workload also notes its pages
  auto start = Clock::now();
  for (std::uint32_t t = 0; t < transactions; ++t) {
    PageWrite writes[kPerTransaction];
    for (std::uint32_t i = 0; i < kPerTransaction; ++i) {
      writes[i] = {1 + std::uint32_t(rng() % pages), payload.data() + i * kPagePayload};
    }
    Check(db->Write(writes, kPerTransaction), "write");
  }
  double engineWrite = Seconds(start);
  std::uint64_t pageBytes = std::uint64_t(transactions) * kPerTransaction * kPageSize;
  auto [plainWrite, plainRead] = PlainWriteRead(data + "/plain.dat", pageBytes, kPerTransaction * kPageSize);
  std::printf("workload: %u transactions, %.1f MiB of pages: engine %.3f s, plain write %.3f s, ratio %.2f\n",
              transactions, double(pageBytes) / (1 << 20), engineWrite, plainWrite, plainWrite / engineWrite);

  // Capture: BackupStop and the change information read in 32 KiB chunks.
  start = Clock::now();
  Check(db->BackupStop(context), "backup stop");
  std::uint64_t streamSize = 0;
  Check(db->ChangeInfoSize(context, &streamSize), "size");
  std::string stagedStream = root + "/stream.bin";
  {
    UniqueFd out = OpenFile(stagedStream, O_WRONLY | O_CREAT | O_TRUNC);
    std::vector<char> chunk(32768);
    DWORD length = 0;
    do {
      Check(db->ReadChangeInfo(context, chunk.data(), 32768, &length), "read change info");
      WriteAll(out.get(), chunk.data(), length);
    } while (length != 0);
  }
  double engineCapture = Seconds(start);
  auto [captureWrite, captureRead] = PlainWriteRead(data + "/plain.dat", streamSize, 32768);
  double plainCapture = captureWrite + captureRead;
  std::printf("capture: %.1f MiB of change information: engine %.3f s, plain write+read %.3f s, ratio %.2f\n",
              double(streamSize) / (1 << 20), engineCapture, plainCapture, plainCapture / engineCapture);
  Check(db->BackupEnd(context, false), "backup end");
  db.reset();

  // Apply: the stream onto a copy of the database as it was before.
  Check(Database::Create(data + "/copy.nsf", params), "copy");
  start = Clock::now();
  {
    std::unique_ptr<ChangeApplier> applier;
    // The copy has its own instance: give it the source's stream header's.
    std::string bytes;
    ReadFileBytes(stagedStream, bytes);
    UniqueFd target = OpenFile(data + "/copy.nsf", O_RDWR);
    PWriteAll(target.get(), bytes.data() + kStreamHeaderSize + 8, kPageSize, 0);  // header page of the source
    target.Reset();
    start = Clock::now();
    Check(ChangeApplier::Start(data + "/copy.nsf", 'D', streamSize, applier), "apply start");
    for (std::uint64_t off = 0; off < bytes.size(); off += 32768) {
      Check(applier->Feed(bytes.data() + off, std::size_t(std::min<std::uint64_t>(32768, bytes.size() - off))), "apply");
    }
    Check(applier->Finish(), "apply end");
  }
  double engineApply = Seconds(start);
  auto [applyWrite, applyRead] = PlainWriteRead(data + "/plain.dat", streamSize, 32768);
  double plainApply = applyWrite + applyRead;
  std::printf("apply: %.1f MiB of change information: engine %.3f s, plain write+read %.3f s, ratio %.2f\n",
              double(streamSize) / (1 << 20), engineApply, plainApply, plainApply / engineApply);
  (void)plainRead;
  fs::remove_all(root);
  return 0;
}
