// Checks the change-information files that a backup left in a snapshot's
// ArkLedger directory: each must hold exactly as many bytes of change
// information after its 8-byte header as the header announces, and each file
// that the backup listed in change_info_list must be there with the size it
// was written with.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/output_sink.h"

namespace ark {

struct ChangeInfoCheck {
  std::size_t files = 0;             // change-information files found
  std::uint64_t changeBytes = 0;     // change information held by the sound ones
  std::vector<std::string> damaged;  // paths of the damaged ones, in the order found
};

// Walks the ArkLedger directory (Windows path) and its subdirectories, except
// its own "logs" folder, for files ending in ".nsf.dat", ".ntf.dat" or
// ".box.dat" (any letter case), and checks each. Writes one message through
// out for every damaged file and a closing count (a warning when none was
// found). A directory that cannot be listed, the ArkLedger directory itself
// included, is skipped without a message, so a missing directory reads as
// one without change information. Never fails; no file stays open.
ChangeInfoCheck CheckChangeInformation(OutputSink& out, const std::string& ledgerDirectory);

struct ChangeInfoListCheck {
  bool listed = false;               // the snapshot has a change_info_list
  std::size_t files = 0;             // files it names
  std::vector<std::string> damaged;  // paths missing, unreadable or not of their listed size (or the list's own path, when a line is malformed)
};

// Checks every file that the snapshot's change_info_list names (relative to
// the ArkLedger directory, a Windows path): it must exist and hold the bytes
// the backup wrote. Writes one message through out for every fault and a
// closing count. A snapshot without the list (taken before backups wrote
// one) gives listed false and writes nothing; so does a list that exists but
// cannot be read, which is taken for no list at all. Shared by the verification and
// the restore, which refuses a snapshot with a fault before the revert.
ChangeInfoListCheck CheckChangeInfoList(OutputSink& out, const std::string& ledgerDirectory);

}  // namespace ark
