// The snapshot hint file of a server: the names of its snapshots, one per
// line, so that a restore can find them without the component.
#pragma once

#include <string>

#include "common/records.h"

namespace ark {

// Fills server.snapshots with the named snapshots still on the data volume
// (their entries as the component lists them, under the file's spelling),
// creating an empty file when there is none. 0, or -1 when the file can be
// neither read nor created or the component cannot list the volume; writes
// nothing through Output.
int LoadSnapshotHints(const std::string& hintPath, DominoServerInfo& server);
// Rewrites the file from server.snapshots, names upper-cased, each once.
// 0, or -1 when the file cannot be written; writes nothing through Output.
int SaveSnapshotHints(const std::string& hintPath, const DominoServerInfo& server);

}  // namespace ark
