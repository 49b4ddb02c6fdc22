// The snapshot hint file of a server, matched against the snapshots that
// the component lists on the server's data volume.
#include "snapshot/snapshot_hints.h"

#include <algorithm>

#include "ledger/snapshot_hint_file.h"
#include "platform/text.h"
#include "snapshot/snapshot_names.h"

namespace ark {

int LoadSnapshotHints(const std::string& hintPath, DominoServerInfo& server) {
  std::vector<std::string> names;
  if (ReadSnapshotHintNames(hintPath, names) != 0) return -1;
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());

  server.snapshots.clear();
  std::vector<SnapshotEntry> onVolume;
  const std::u16string drive(1, server.dataVolume.driveLetter);
  if (GetSnapshotEntries(drive, onVolume) != 0) return -1;
  for (const std::string& name : names) {
    auto match = std::find_if(onVolume.begin(), onVolume.end(), [&](const SnapshotEntry& entry) {
      return platform::EqualsNoCase(entry.name, name);
    });
    if (match == onVolume.end()) continue;  // no longer on the volume: dropped
    SnapshotEntry entry = *match;
    entry.name = name;
    entry.nameText.Set(name);
    entry.wideName.Set(platform::AnsiToWide(name));
    server.snapshots.push_back(std::move(entry));
  }
  return 0;
}

int SaveSnapshotHints(const std::string& hintPath, const DominoServerInfo& server) {
  std::vector<std::string> names;
  for (const SnapshotEntry& entry : server.snapshots) names.push_back(entry.name);
  return WriteSnapshotHintNames(hintPath, names);
}

}  // namespace ark
