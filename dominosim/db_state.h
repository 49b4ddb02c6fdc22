// The state a database shares with every process of its server, kept in the
// first bytes of its state file (KEY.state, mapped by each Database object)
// and read and written under the file's lock. Zeros read as idle and online.
#pragma once

#include <cstdint>

#include "dominosim/database.h"

namespace dominosim {

enum DbMode : std::uint32_t { kIdle = 0, kRecording = 1, kStopped = 2 };  // backup mode
enum DbFlag : std::uint32_t {
  kOfflineFlag = 1,  // taken offline, not yet brought online
  // KEY.dirty may hold page numbers: set by a writer that notes a write
  // while a backup records, and kept (the file is emptied, not removed, and a
  // writer may still hold it open). Without it no .dirty file is opened.
  kDirtyFileFlag = 2,
  kChangesFileFlag = 4,  // KEY.chg may exist: set before it is made, cleared when it is removed
};

struct Database::State {
  std::uint32_t mode = kIdle;
  std::uint32_t context = 0;
  std::uint32_t holderPid = 0;
  std::uint32_t flags = 0;
  std::uint64_t streamSize = 0;
};

}  // namespace dominosim
