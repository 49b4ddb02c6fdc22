// The state a database shares with every process of its server, kept in the
// first bytes of its state file (KEY.state, mapped by each Database object)
// and read and written under the file's lock. Zeros read as idle and online.
#pragma once

#include <cstdint>

#include "dominosim/database.h"

namespace dominosim {

enum DbMode : std::uint32_t { kIdle = 0, kRecording = 1, kStopped = 2 };  // backup mode
enum DbFlag : std::uint32_t { kOfflineFlag = 1 };  // taken offline, not yet brought online

struct Database::State {
  std::uint32_t mode = kIdle;
  std::uint32_t context = 0;
  std::uint32_t holderPid = 0;
  std::uint32_t flags = 0;
  std::uint64_t streamSize = 0;
};

}  // namespace dominosim
