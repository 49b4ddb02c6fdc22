// ArkLedger paths as the restore forms them from a snapshot's name.
#pragma once

#include <string>

// Snapshot names reach the restore in the letter case that discovery
// reports (the hint file's names are upper-cased), while the ArkLedger
// directory keeps the case it was created with. Windows finds it either
// way; on a host whose file names are case-sensitive the path's last
// component is matched ignoring case. Returns the path as it exists, or the
// path unchanged when nothing matches.
std::string ResolveLastComponentCase(const std::string& path);
