// What a drill that died (the service killed, a power cut) leaves: the
// clone of the snapshot in the component's store, or its folder of copies.
// While a drill works it keeps a record naming either, below the ArkLedger
// root, $drill\<server>.running (text: "ark drill 1", then "clone=<root>"
// or "folder=<path>", each line ended by "\r\n"); it goes once the clone or
// folder is removed, or kept on request. The next drill of the server,
// which holds the operation lock, so that no drill of it is running, removes
// what a record names.
#pragma once

#include <string>

#include "common/records.h"

namespace ark {

class DrillRecord {
 public:
  explicit DrillRecord(const DominoServerInfo& server);
  DrillRecord(const DrillRecord&) = delete;
  DrillRecord& operator=(const DrillRecord&) = delete;
  // Records the clone's root (clone) or the folder of copies (else),
  // flushed; a record that cannot be written only means a drill that dies
  // now leaves it behind.
  void Working(bool clone, const std::string& path);
  // Removes the record (and $drill once empty).
  void Done();

 private:
  std::string path_;  // "" when CHANGE_INFO_DIR is not set
  bool written_ = false;
};

// Removes the clone or folder that the record of a dead drill of the
// server names, then the record: "" when there was none, else one line that
// says what was removed (or, starting "WARNING: ", what could not be: the
// record stays for the next drill then).
std::string RemoveDrillLeftovers(const DominoServerInfo& server);

}  // namespace ark
