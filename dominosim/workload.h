// The simulated server's workload: seeded random transactions on the
// server's databases (pages of logged and unlogged databases, some database
// record updates) at a steady rate.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

#include "dominosim/server_config.h"

namespace dominosim {

struct WorkloadOptions {
  std::uint64_t seed = 1;
  double rate = 100;          // transactions per second; 0: as fast as possible
  double durationSeconds = 0;  // 0: until stop is set
  std::uint32_t maxPagesPerWrite = 4;
  std::uint32_t growEvery = 50;        // about one page in this many grows a database
  std::uint32_t recordEvery = 20;      // about one transaction in this many updates the record
  std::uint64_t maxTransactions = 0;   // 0: no limit
};

struct WorkloadStats {
  std::uint64_t transactions = 0;
  std::uint64_t pages = 0;
  std::uint64_t errors = 0;
  std::uint32_t databases = 0;
};

// Runs until stop becomes true, the duration or the transaction count is
// reached, or writes keep failing. Returns 0, or the status that made it
// give up (no database, log cannot be opened, 100 failures in a row).
STATUS RunWorkload(const ServerConfig& config, const WorkloadOptions& options,
                   const std::atomic<bool>& stop, WorkloadStats& stats, std::FILE* messages);

}  // namespace dominosim
