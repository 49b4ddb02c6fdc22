// Checks the change-information files that a backup left in a snapshot's
// ArkLedger directory: each must hold exactly as many bytes of change
// information after its 8-byte header as the header announces.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/output_sink.h"

// The file's 8-byte header: change-information size, low word then high
// word, little-endian.
inline constexpr std::uint64_t kChangeInfoHeaderSize = 8;

struct ChangeInfoCheck {
  std::size_t files = 0;             // change-information files found
  std::uint64_t changeBytes = 0;     // change information held by the sound ones
  std::vector<std::string> damaged;  // paths of the damaged ones, in the order found
};

// Walks the ArkLedger directory (Windows path) and its subdirectories, except
// its own "logs" folder, for files ending in ".nsf.dat", ".ntf.dat" or
// ".box.dat" (any letter case), and checks each. Writes one message through
// out for every damaged file and a closing count.
ChangeInfoCheck CheckChangeInformation(OutputSink& out, const std::string& ledgerDirectory);
