// Throughput of the simulated runtime against plain file I/O of the same
// bytes, measured in the same run:
//   workload   logged transactions of 4 pages (the volume's write lock held
//              per run of 64 transactions as nserver does, database lock,
//              log records, page and header writes) vs sequential writes of
//              the bytes the engine wrote (pages and log records) in pieces
//              of one transaction's size; also shown against the page bytes
//              alone;
//   capture    BackupStop (change information built from the final page
//              images) and GetChangeInfo in 32 KiB chunks vs writing and
//              reading back a file of the stream's size;
//   apply      ApplyChangeInfo of that stream onto a copy of the database vs
//              the same write and read back.
// Prints each ratio (baseline time / engine time; 1.0 = as fast as plain
// I/O), each time the best of --rounds runs (the machine is shared).
// Usage: bench_dominosim [--mib N] [--rounds N] [--dir DIR]
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
#include "platform/kit/file_io.h"
#include "dominosim/status.h"
#include "dominosim/txn_log.h"
#include "dominosim/volume_hold.h"
#include "platform/host.h"
#include "platform/registry.h"

namespace ark {

using namespace dominosim;
using platform::kit::OpenFile;
using platform::kit::PWriteAll;
using platform::kit::ReadFileBytes;
using platform::kit::WriteAll;
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

struct Phase {
  double engine = 1e30;
  double plain = 1e30;
  void Keep(double e, double p) {
    engine = std::min(engine, e);
    plain = std::min(plain, p);
  }
  double ratio() const { return plain / engine; }
};

}  // namespace ark

using namespace ark;

int main(int argc, char** argv) {
  std::uint64_t mib = 64;
  int rounds = 3;
  std::string base = fs::temp_directory_path().string();
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--mib") == 0) mib = std::strtoull(argv[i + 1], nullptr, 10);
    if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--dir") == 0) base = argv[i + 1];
  }
  std::string root = base + "/bench_dominosim." + std::to_string(::getpid());
  fs::create_directories(root + "/volumes/D");
  platform::SetHostRoot(root);
  platform::RegSetString("SYSTEM\\CurrentControlSet\\Control\\Session Manager\\DOS Devices", "D:",
                         root + "/volumes/D");
  const std::string data = root + "/volumes/D";
  const std::uint32_t pages = std::uint32_t(mib * 256);
  constexpr std::uint32_t kPerTransaction = 4;
  const std::uint32_t transactions = pages / kPerTransaction;
  const std::uint64_t pageBytes = std::uint64_t(transactions) * kPerTransaction * kPageSize;
  const std::uint64_t engineBytes =
      std::uint64_t(transactions) * kPerTransaction * (kPageSize + kPageSize + kRecordHeaderSize);
  Phase workload, workloadPages, capture, apply;
  std::uint64_t streamSize = 0;

  for (int round = 0; round < rounds; ++round) {
    fs::remove_all(data);
    fs::remove_all(root + "/state");
    fs::create_directories(data);
    LogOptions logOptions;
    logOptions.dir = data + "/logs";
    logOptions.extentBytes = 4 << 20;
    std::unique_ptr<TxnLog> log;
    Check(TxnLog::Open(logOptions, log), "log");
    CreateParams params;
    params.dataPages = pages;
    params.logId = log->logId();
    Check(Database::Create(data + "/bench.nsf", params), "create");
    Check(Database::Create(data + "/copy.nsf", params), "copy");
    DatabaseOptions options;
    options.volumeDrive = 'D';
    options.stateDir = root + "/state";
    options.log = log.get();
    std::unique_ptr<Database> db;
    Check(Database::Open(data + "/bench.nsf", options, db), "open");

    // Workload: logged 4-page transactions while a backup records them.
    std::vector<std::uint8_t> payload(std::size_t(kPerTransaction) * kPagePayload);
    FillBytes(payload.data(), payload.size(), 7);
    std::mt19937 rng(1);
    DWORD context = 0;
    Check(db->BackupStart(&context), "backup start");
    auto start = Clock::now();
    VolumeHold hold;  // as the simulated server does: one hold per run of 64 transactions
    for (std::uint32_t t = 0; t < transactions; ++t) {
      if (t % 64 == 0) hold.Acquire('D');
      PageWrite writes[kPerTransaction];
      for (std::uint32_t i = 0; i < kPerTransaction; ++i) {
        writes[i] = {1 + std::uint32_t(rng() % pages), payload.data() + i * kPagePayload};
      }
      Check(db->Write(writes, kPerTransaction), "write");
    }
    hold.Release();
    double engine = Seconds(start);
    workload.Keep(engine, PlainWriteRead(data + "/plain.dat", engineBytes, engineBytes / transactions).first);
    workloadPages.Keep(engine, PlainWriteRead(data + "/plain.dat", pageBytes, kPerTransaction * kPageSize).first);

    // Capture: BackupStop and the change information read in 32 KiB chunks.
    std::string stagedStream = root + "/stream.bin";
    start = Clock::now();
    Check(db->BackupStop(context), "backup stop");
    Check(db->ChangeInfoSize(context, &streamSize), "size");
    {
      UniqueFd out = OpenFile(stagedStream, O_WRONLY | O_CREAT | O_TRUNC);
      std::vector<char> chunk(32768);
      DWORD length = 0;
      do {
        Check(db->ReadChangeInfo(context, chunk.data(), 32768, &length), "read change info");
        WriteAll(out.get(), chunk.data(), length);
      } while (length != 0);
    }
    engine = Seconds(start);
    auto [w, r] = PlainWriteRead(data + "/plain.dat", streamSize, 32768);
    capture.Keep(engine, w + r);
    Check(db->BackupEnd(context, false), "backup end");
    db.reset();

    // Apply: the stream onto a copy that carries the same instance.
    std::string bytes;
    ReadFileBytes(stagedStream, bytes);
    {
      UniqueFd target = OpenFile(data + "/copy.nsf", O_RDWR);
      PWriteAll(target.get(), bytes.data() + kStreamHeaderSize + 8, kPageSize, 0);
    }
    start = Clock::now();
    {
      std::unique_ptr<ChangeApplier> applier;
      Check(ChangeApplier::Start(data + "/copy.nsf", 'D', streamSize, applier), "apply start");
      for (std::uint64_t off = 0; off < bytes.size(); off += 32768) {
        Check(applier->Feed(bytes.data() + off, std::size_t(std::min<std::uint64_t>(32768, bytes.size() - off))),
              "apply");
      }
      Check(applier->Finish(), "apply end");
    }
    engine = Seconds(start);
    auto [aw, ar] = PlainWriteRead(data + "/plain.dat", streamSize, 32768);
    apply.Keep(engine, aw + ar);
  }

  std::printf("workload: %u transactions of %u pages (%.1f MiB of pages, %.1f MiB written with the log)\n",
              transactions, kPerTransaction, double(pageBytes) / (1 << 20), double(engineBytes) / (1 << 20));
  std::printf("  engine %.3f s; plain write of the same bytes %.3f s: ratio %.2f\n", workload.engine,
              workload.plain, workload.ratio());
  std::printf("  (plain write of the page bytes alone %.3f s: ratio %.2f)\n", workloadPages.plain,
              workloadPages.ratio());
  std::printf("capture: %.1f MiB of change information: engine %.3f s, plain write+read %.3f s: ratio %.2f\n",
              double(streamSize) / (1 << 20), capture.engine, capture.plain, capture.ratio());
  std::printf("apply: %.1f MiB of change information: engine %.3f s, plain write+read %.3f s: ratio %.2f\n",
              double(streamSize) / (1 << 20), apply.engine, apply.plain, apply.ratio());
  fs::remove_all(root);
  return 0;
}
